// Shared main of every test binary: a Qt application object for the event loop and the main
// queue, and a fresh private HOME so that no test reads or writes a real user's files.
#include <QCoreApplication>
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

    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
