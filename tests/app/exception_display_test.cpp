// An exception that escapes an event handler is shown and the program goes on. This test
// has its own main: the application object under test must be the only one.
#include "flash_application.h"

#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

app::FlashApplication* application = nullptr;

TEST(ExceptionDisplay, EscapedExceptionIsShownAndTheEventLoopGoesOn)
{
    std::vector<std::string> shown;
    application->exceptionDisplay = [&](const std::string& what) { shown.push_back(what); };

    int after = 0;
    QTimer::singleShot(0, [] { throw std::runtime_error("Write buffer fail!"); });
    QTimer::singleShot(0, [] { throw 42; });
    QTimer::singleShot(5, [&] {
        ++after;
        QCoreApplication::exit(0);
    });
    EXPECT_EQ(0, QCoreApplication::exec());
    EXPECT_EQ(1, after);
    ASSERT_EQ(2u, shown.size());
    EXPECT_EQ("Write buffer fail!", shown[0]);
    EXPECT_FALSE(shown[1].empty());
}

TEST(ExceptionDisplay, ApplicationCarriesTheApplicationTitle)
{
    EXPECT_EQ(QStringLiteral("Korvane Flash utility for QVX5500 on Win2000 & NT"),
              QCoreApplication::applicationName());
    // Naming a new window's X11 class must not reach for an X connection that the platform
    // (here offscreen) does not have.
    QWindow window;
    window.create();
    EXPECT_NE(nullptr, window.handle());
}

} // namespace

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    app::FlashApplication app(argc, argv);
    application = &app;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
