#pragma once
// The push buttons of the dialogs' button rows: found by their object name
// (by the tests and the dialogs' own enabling rules), and never the default
// button of a dialog, so that Enter in a field does not press them.
// User-interface thread only.

class QPushButton;
class QString;
class QWidget;

namespace vantrove {

// A new button `text` owned by `parent`, with object name `name`.
QPushButton* NamedButton(const QString& text, QWidget* parent, const char* name);

}  // namespace vantrove
