// Test entry shared by the test executables: the Qt application object is
// created only after gtest has parsed its flags, so --gtest_list_tests works
// without a display.
#include <gtest/gtest.h>

#include <QCoreApplication>
#ifdef TARNEL_TEST_WIDGETS
#include <QApplication>
#endif

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
#ifdef TARNEL_TEST_WIDGETS
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    return RUN_ALL_TESTS();
}
