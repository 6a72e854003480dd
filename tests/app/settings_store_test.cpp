#include "app/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "core/folder_lock.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::TempDir;

std::string ReadText(const std::string& path) {
    std::vector<uint8_t> bytes = test::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// A store with every kind of content the format must carry.
SettingsStore FilledStore(const std::string& path) {
    SettingsStore store(path);
    store.SetDword("Options", "Zero", 0);
    store.SetDword("Options", "Max", 0xFFFFFFFFu);
    store.SetString("Options", "Plain", "15000000");
    store.SetString("Options", "Tricky", "a \"quoted\" \\path\\ with\nnewline\r\t\x01\x7f end");
    store.SetString("Options", "Utf8", "perch\xc3\xa9 \xe2\x82\xac");
    store.SetString("Options", "Empty", "");
    store.SetString("Options", std::string("Na\"me\\"), "x");
    store.SetString("Shell\\Deep\\Key", "", "default value");
    store.CreateKey("Layout");
    return store;
}

TEST(SettingsStore, ContentSurvivesWriteAndRead) {
    TempDir dir;
    std::string path = dir.File("sub/folder/settings.reg");  // folders are created
    SettingsStore written = FilledStore(path);
    std::vector<StoreKey> expected = written.keys();
    ASSERT_TRUE(written.Update([&](SettingsStore& s) {
        for (const StoreKey& k : expected) {
            s.CreateKey(k.path);
            for (const StoreValue& v : k.values) {
                if (v.type == StoreValueType::Dword)
                    s.SetDword(k.path, v.name, v.number);
                else
                    s.SetString(k.path, v.name, v.text);
            }
        }
    }));

    SettingsStore read(path);
    ASSERT_EQ(read.Read(), StoreReadResult::Loaded);
    ASSERT_EQ(read.keys().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(read.keys()[i].path, expected[i].path);
        ASSERT_EQ(read.keys()[i].values.size(), expected[i].values.size()) << expected[i].path;
        for (size_t j = 0; j < expected[i].values.size(); ++j) {
            const StoreValue& a = read.keys()[i].values[j];
            const StoreValue& b = expected[i].values[j];
            EXPECT_EQ(a.name, b.name);
            EXPECT_EQ(a.type, b.type);
            EXPECT_EQ(a.number, b.number);
            EXPECT_EQ(a.text, b.text);
        }
    }
    // Nothing but the store and its lock file is left in its folder: the
    // temporary file is gone.
    std::vector<std::string> entries;
    for (auto& e : std::filesystem::directory_iterator(dir.File("sub/folder")))
        entries.push_back(e.path().filename().string());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"settings.reg", "settings.reg.lock"}));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "the store is private to its user";
}

TEST(SettingsStore, TypedQueriesMatchOnlyTheirType) {
    SettingsStore store("");
    ASSERT_EQ(store.Parse("Vantrove Settings Version 1\n[Options]\n\"Priority\"=\"3\"\n"
                          "\"Limit\"=dword:0000000A\n\"Blob\"=hex:01,02\n; end of store\n"),
              StoreReadResult::Loaded);
    uint32_t number = 99;
    std::string text = "unchanged";
    EXPECT_FALSE(store.QueryDword("Options", "Priority", number));
    EXPECT_FALSE(store.QueryString("Options", "Limit", text));
    EXPECT_FALSE(store.QueryDword("Options", "Blob", number));
    EXPECT_FALSE(store.QueryString("Options", "Blob", text));
    EXPECT_EQ(number, 99u);
    EXPECT_EQ(text, "unchanged");
    // Names of keys and values compare without regard to case.
    EXPECT_TRUE(store.QueryDword("OPTIONS", "limit", number));
    EXPECT_EQ(number, 10u);
    EXPECT_TRUE(store.QueryString("options", "PRIORITY", text));
    EXPECT_EQ(text, "3");
    // A value of another kind is written back as it stood.
    EXPECT_NE(store.Serialize().find("\"Blob\"=hex:01,02\n"), std::string::npos);
}

TEST(SettingsStore, EveryTruncationOfAStoreIsDamagedNeverForeign) {
    SettingsStore full = FilledStore("");
    std::string text = full.Serialize();
    SettingsStore store("");
    ASSERT_EQ(store.Parse(text), StoreReadResult::Loaded);
    for (size_t length = 0; length < text.size(); ++length) {
        StoreReadResult result = store.Parse(text.substr(0, length));
        ASSERT_EQ(result, StoreReadResult::Damaged) << "cut at " << length;
        ASSERT_TRUE(store.keys().empty());
    }
}

TEST(SettingsStore, MutatedStoresNeverCrashAndReadConsistently) {
    std::mt19937_64 rng(test::TestSeed());
    const std::string original = FilledStore("").Serialize();
    SettingsStore store("");
    for (int round = 0; round < 2000; ++round) {
        std::string text = original;
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            size_t at = rng() % text.size();
            switch (rng() % 3) {
                case 0:
                    text[at] = static_cast<char>(rng());
                    break;
                case 1:
                    text.erase(at, 1 + rng() % 8);
                    break;
                default: {
                    static const char kSyntax[] = {'"', '=', '[', ']',  '\n',
                                                   '@', ';', 'x', '\r', '\0'};
                    text.insert(at, 1, kSyntax[rng() % sizeof kSyntax]);
                    break;
                }
            }
            if (text.empty()) text.push_back('x');
        }
        StoreReadResult result = store.Parse(text);
        if (result != StoreReadResult::Loaded) {
            ASSERT_TRUE(store.keys().empty());
            continue;
        }
        // Whatever was accepted is written back in a form that reads the same.
        std::string again = store.Serialize();
        SettingsStore second("");
        ASSERT_EQ(second.Parse(again), StoreReadResult::Loaded) << again;
        ASSERT_EQ(second.Serialize(), again);
    }
}

TEST(SettingsStore, MalformedStoresAreDamaged) {
    const std::string head = "Vantrove Settings Version 1\n";
    const std::string tail = "; end of store\n";
    const char* bodies[] = {
        "\"Orphan\"=dword:00000001\n",            // a value outside any key
        "[Options]\n\"A\"=dword:\n",              // no digits
        "[Options]\n\"A\"=dword:123456789\n",     // more than 32 bits
        "[Options]\n\"A\"=dword:12g4\n",          // not hexadecimal
        "[Options]\n\"A\"=\"unterminated\n",      // string without its quote
        "[Options]\n\"A\"=\"bad \\q escape\"\n",  // unknown escape
        "[Options]\n\"A\"=\"x\" trailing\n",      // text after the string
        "[Options]\n\"A\"=something\n",           // unknown value form
        "[Options]\n\"A\"\n",                     // no '='
        "[Options\n",                             // open section
        "[]\n",                                   // empty key path
        "[Options]\ngarbage line\n",
    };
    SettingsStore store("");
    for (const char* body : bodies) {
        EXPECT_EQ(store.Parse(head + body + tail), StoreReadResult::Damaged) << body;
    }
    EXPECT_EQ(store.Parse(head + "[Options]\n" + tail + "[Late]\n"), StoreReadResult::Damaged);
    EXPECT_EQ(store.Parse(head + "[Options]\n"), StoreReadResult::Damaged);  // no end marker
    // Comments, blank lines, CRLF line ends and a repeated section are fine.
    ASSERT_EQ(store.Parse("Vantrove Settings Version 1\r\n; note\r\n\r\n[A]\r\n\"x\"=dword:1\r\n"
                          "[B]\r\n[a]\r\n\"y\"=dword:2\r\n; end of store\r\n"),
              StoreReadResult::Loaded);
    uint32_t v = 0;
    EXPECT_TRUE(store.QueryDword("A", "x", v));
    EXPECT_TRUE(store.QueryDword("A", "y", v));
    EXPECT_EQ(v, 2u);
}

TEST(SettingsStore, MissingForeignAndUnreadableFiles) {
    TempDir dir;
    SettingsStore store(dir.File("settings.reg"));
    EXPECT_EQ(store.Read(), StoreReadResult::Missing);

    test::WriteFile(dir.File("settings.reg"), "[Options]\nsomebody else's notes\n");
    EXPECT_EQ(store.Read(), StoreReadResult::Foreign);

    std::filesystem::remove(dir.File("settings.reg"));
    std::filesystem::create_directory(dir.File("settings.reg"));
    EXPECT_EQ(store.Read(), StoreReadResult::Unavailable);
    EXPECT_FALSE(store.Update([](SettingsStore& s) { s.SetDword("Options", "A", 1); }));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("settings.reg")));

    EXPECT_EQ(SettingsStore("").Read(), StoreReadResult::Unavailable);
    EXPECT_FALSE(SettingsStore("").Update([](SettingsStore&) {}));
}

TEST(SettingsStore, AForeignFileIsMovedAsideNotOverwritten) {
    TempDir dir;
    std::string path = dir.File("settings.reg");
    const std::string first = "someone's own settings\n";
    const std::string second = "another foreign file\n";
    test::WriteFile(path, first);
    SettingsStore store(path);
    ASSERT_TRUE(store.Update([](SettingsStore& s) { s.SetDword("Options", "A", 1); }));
    EXPECT_EQ(ReadText(path + ".foreign"), first);
    EXPECT_EQ(store.Read(), StoreReadResult::Loaded);

    test::WriteFile(path, second);
    ASSERT_TRUE(store.Update([](SettingsStore& s) { s.SetDword("Options", "B", 2); }));
    EXPECT_EQ(ReadText(path + ".foreign"), first);
    EXPECT_EQ(ReadText(path + ".foreign.2"), second);
    ASSERT_EQ(store.Read(), StoreReadResult::Loaded);
    uint32_t v;
    EXPECT_FALSE(store.QueryDword("Options", "A", v)) << "nothing was taken from a foreign file";
    EXPECT_TRUE(store.QueryDword("Options", "B", v));
}

TEST(SettingsStore, UpdateKeepsWhatOthersWroteAndReplacesADamagedStore) {
    TempDir dir;
    std::string path = dir.File("settings.reg");
    SettingsStore a(path), b(path);
    ASSERT_TRUE(a.Update([](SettingsStore& s) { s.SetDword("Layout", "W", 5); }));
    ASSERT_TRUE(b.Update([](SettingsStore& s) { s.SetDword("Options", "X", 6); }));
    SettingsStore check(path);
    ASSERT_EQ(check.Read(), StoreReadResult::Loaded);
    uint32_t v;
    EXPECT_TRUE(check.QueryDword("Layout", "W", v));
    EXPECT_TRUE(check.QueryDword("Options", "X", v));

    std::string text = ReadText(path);
    test::WriteFile(path, text.substr(0, text.size() / 2));
    ASSERT_EQ(check.Read(), StoreReadResult::Damaged);
    ASSERT_TRUE(a.Update([](SettingsStore& s) { s.SetDword("Layout", "W", 7); }));
    ASSERT_EQ(check.Read(), StoreReadResult::Loaded);
    EXPECT_FALSE(check.QueryDword("Options", "X", v));
    EXPECT_TRUE(check.QueryDword("Layout", "W", v));
    EXPECT_EQ(v, 7u);
}

TEST(SettingsStore, ConcurrentUpdatesLoseNothing) {
    TempDir dir;
    std::string path = dir.File("settings.reg");
    constexpr int kRounds = 40;
    auto writer = [&](const char* key) {
        SettingsStore store(path);
        for (int i = 0; i < kRounds; ++i) {
            std::string name = std::to_string(i);
            store.Update([&](SettingsStore& s) { s.SetDword(key, name, i); });
        }
    };
    std::thread t1(writer, "One"), t2(writer, "Two");
    t1.join();
    t2.join();
    SettingsStore check(path);
    ASSERT_EQ(check.Read(), StoreReadResult::Loaded);
    ASSERT_NE(check.FindKey("One"), nullptr);
    ASSERT_NE(check.FindKey("Two"), nullptr);
    EXPECT_EQ(check.FindKey("One")->values.size(), static_cast<size_t>(kRounds));
    EXPECT_EQ(check.FindKey("Two")->values.size(), static_cast<size_t>(kRounds));
}

// A repair or creation holds its folder's lock for the whole job; settings
// kept in that folder are still saved at once, and the job's lock is still
// free while a save is going on.
TEST(SettingsStore, AJobLockOnTheFolderNeverBlocksASave) {
    TempDir dir;
    std::string path = dir.File("settings.reg");
    FolderLock job;
    ASSERT_EQ(job.Acquire(dir.path(), false), FolderLock::Outcome::Locked);
    SettingsStore store(path);
    EXPECT_TRUE(store.Update([&](SettingsStore& s) { s.SetDword("Key", "v", 1); }));
    job.Release();
    store.Update([&](SettingsStore& s) {
        s.SetDword("Key", "w", 2);
        FolderLock during;
        EXPECT_EQ(during.Acquire(dir.path(), false), FolderLock::Outcome::Locked);
    });
    SettingsStore check(path);
    ASSERT_EQ(check.Read(), StoreReadResult::Loaded);
    ASSERT_NE(check.FindKey("Key"), nullptr);
    EXPECT_EQ(check.FindKey("Key")->values.size(), 2u);
}

TEST(SettingsStore, DeleteKeyTreeRemovesOnlyThatTree) {
    SettingsStore store("");
    store.SetDword("Classes\\vt\\shell\\open\\command", "", 1);
    store.SetDword("Classes\\vt\\shell\\print", "x", 2);
    store.SetDword("Classes\\vt", "y", 3);
    store.SetDword("Classes\\vt2", "z", 4);  // shares the prefix, not the tree
    store.SetDword("Classes\\implicit\\child", "w", 5);

    EXPECT_FALSE(store.DeleteKey("Classes\\vt")) << "a key with subkeys is not deleted plainly";
    EXPECT_TRUE(DeleteKeyTree(store, "Classes", "VT"));
    EXPECT_FALSE(store.HasKey("Classes\\vt"));
    EXPECT_FALSE(store.HasKey("Classes\\vt\\shell\\open\\command"));
    EXPECT_TRUE(store.HasKey("Classes\\vt2"));
    EXPECT_FALSE(DeleteKeyTree(store, "Classes", "vt"));

    // A key that exists only as the parent of another goes with its subkeys.
    EXPECT_TRUE(store.HasKey("Classes\\implicit"));
    EXPECT_TRUE(DeleteKeyTree(store, "Classes", "implicit"));
    EXPECT_FALSE(store.HasKey("Classes\\implicit"));
    EXPECT_EQ(store.SubkeyNames("Classes"), std::vector<std::string>{"vt2"});
    EXPECT_TRUE(DeleteKeyTree(store, "", "Classes"));
    EXPECT_TRUE(store.keys().empty());
}

TEST(SettingsStore, UnusableKeyPathsAreRefused) {
    SettingsStore store("");
    for (const char* path : {"", "\\A", "A\\", "A\\\\B", "A]B", "A\nB", "[A"}) {
        EXPECT_FALSE(store.SetDword(path, "v", 1)) << path;
    }
    EXPECT_TRUE(store.keys().empty());
}

TEST(SettingsStore, DefaultPathFollowsXdgConfigHome) {
    std::string savedXdg = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("XDG_CONFIG_HOME", "/x/config/", 1);
    setenv("HOME", "/x/home", 1);
    EXPECT_EQ(DefaultSettingsStorePath(), "/x/config/Vantrove/settings.reg");
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(DefaultSettingsStorePath(), "/x/home/.config/Vantrove/settings.reg");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "", 1);
    EXPECT_EQ(DefaultSettingsStorePath(), "");
    setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
    setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
}  // namespace vantrove
