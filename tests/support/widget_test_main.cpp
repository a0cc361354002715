// main() for widget tests: GoogleTest inside the program's own application object.
#include <gtest/gtest.h>

#include "pagetrim_application.h"

int main(int argc, char** argv) {
  pagetrim::PagetrimApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
