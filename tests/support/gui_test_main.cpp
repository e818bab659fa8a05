// The main of the widget tests: the private registry and folders of every test process, and
// a QApplication on the offscreen platform (unless QT_QPA_PLATFORM names another), so widget
// tests run without a display. QTest's input functions (QTest::mouseClick, keyClick) work on
// the widgets the tests create.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "tests/support/testenv.h"

int main(int argc, char** argv) {
  if (!tavtest::SetUpPrivateEnvironment()) return 2;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  int rc = 0;
  {
    QApplication app(argc, argv);
    rc = RUN_ALL_TESTS();
  }
  tavtest::TearDownPrivateEnvironment();
  return rc;
}
