// Shared main of every test binary: a Qt application object for the event loop and the main
// queue, and a fresh private HOME so that no test reads or writes a real user's files. Built with
// TAMBERLO_TEST_WIDGETS it makes a QApplication instead, for widget tests, with the interface font.
#include <QCoreApplication>
#if TAMBERLO_TEST_WIDGETS
#include <QApplication>
#include <QFont>
#endif
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    QTemporaryDir home;
    if (!home.isValid()) return 2;
    const std::string root = home.path().toStdString();
    ::setenv("HOME", root.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/.config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/.local/share").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (root + "/.cache").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (root + "/.local/state").c_str(), 1);
    ::setenv("XDG_DOCUMENTS_DIR", (root + "/Documents").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
    ::setenv("TAMBERLO_AUDIO_DEVICE", "null", 0);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("TAMBERLO_MIDI_BACKEND", "loopback", 1);
    // No test reaches a real service: the tests that talk to one start it on loopback themselves.
    for (const char* endpoint : {"TAMBERLO_EVENTLOG_URL", "TAMBERLO_COLLECT_URL", "TAMBERLO_FEEDBACK_URL",
                                 "TAMBERLO_ACCOUNT_URL", "TAMBERLO_TRACKING_ID"})
        ::unsetenv(endpoint);

#if TAMBERLO_TEST_WIDGETS
    QApplication app(argc, argv);
    QFont font("Noto Sans CJK SC");
    font.setPixelSize(13);
    QApplication::setFont(font);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
