#pragma once
namespace vantrove { class BlockProgressSink { public: virtual ~BlockProgressSink() = default; virtual void SetBlockProgress(uint32_t done, uint32_t total) = 0; }; }
