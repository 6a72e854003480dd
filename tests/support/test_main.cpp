// The main of every GoogleTest program: a private sandbox for HOME and the
// XDG folders, removed at exit. Qt Test programs have their own main
// (qt_test_main.h) and never pull this one in from the support library.

#include <gtest/gtest.h>

#include "support/test_env.h"

int main(int argc, char** argv) {
    vantrove::test::EnterSandbox();
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    vantrove::test::LeaveSandbox();
    return rc;
}
