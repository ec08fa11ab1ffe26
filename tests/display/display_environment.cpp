/* Display tests need an X server: without one they stop at once with a clear
 * message instead of running into a missing display one test at a time. */
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include "test_support.h"

namespace {

class DisplayEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        const char* name = getenv("DISPLAY");
        if (name && *name && test_display()) return;
        fprintf(stderr,
                "display tests need an X server, and %s: set DISPLAY to a running server "
                "(tools/test.sh starts a private Xvfb)\n",
                name && *name ? "none could be opened" : "DISPLAY is not set");
        fflush(stderr);
        exit(2);
    }
};

const ::testing::Environment* const _display_environment =
    ::testing::AddGlobalTestEnvironment(new DisplayEnvironment);

}  // namespace
