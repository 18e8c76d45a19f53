#pragma once
// The window face of kavrin: a Qt application around TfmMain.
namespace mirelo {

// Takes Qt's own options, then kavrin's (--settings FILE); the exit status.
int runKavrinWindow(int argc, char** argv);

}  // namespace mirelo
