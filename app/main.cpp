// The tamberlo executable: the editor application.
#include "EditorUI/App/AppDelegate.h"

int main(int argc, char** argv) { return tamberlo::applicationMain(argc, argv); }
