// Runs the end-to-end tests in a network of their own where the system allows it, so that the
// printer's fixed port and DNS-SD never meet another copy of the program on this machine.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/e2e/private_network.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Before any thread exists: a new namespace applies to the calling thread and what it starts.
  if (!enter_private_network()) {
    std::fprintf(stderr, "Not in a private network namespace: sharing the machine's network.\n");
  }
  return RUN_ALL_TESTS();
}
