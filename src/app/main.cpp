// halyard: the window. Files named on the command line are taken as if dropped on it,
// so that the desktop's "Open with" works.
#include <QApplication>
#include <QStringList>

#include "app/TfMain.h"
#include "model/platform/Console.h"

int main(int argc, char** argv) {
    // Messages on a closed stderr must not land in an output, nor a file-size limit end
    // the program in the middle of a write.
    halyard::platform::HoldStandardStreams();
    halyard::platform::IgnoreFileSizeSignal();
    QApplication app(argc, argv);
    QApplication::setApplicationName("halyard");
    QApplication::setDesktopFileName("halyard");

    halyard::TfMain window;
    QApplication::setWindowIcon(window.windowIcon());
    window.show();
    window.FormActivate();
    window.openFiles(QApplication::arguments().mid(1));
    return app.exec();
}
