#include "ui/AboutDlg.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QtGlobal>

#include "core/Trace.h"

#ifndef QM_VERSION
#define QM_VERSION "0"
#endif

namespace qm::ui {

QString AboutText() {
    QM_TRACE("Quavermill");
    QM_RETURN(0, QStringLiteral("<h3>Quavermill %1</h3>"
                                "<p>Copies the tracks of audio CDs and disc images into WAV, "
                                "MP3, Ogg Vorbis, FLAC, APE and WMA files.</p>"
                                "<p>Free software, provided as is, without any warranty.</p>"
                                "<p>Built with Qt %2; running on Qt %3.</p>")
                     .arg(QStringLiteral(QM_VERSION), QStringLiteral(QT_VERSION_STR),
                          QString::fromLatin1(qVersion())));
}

void ShowAboutDialog(QWidget* parent) {
    QM_TRACE("Quavermill");
    QMessageBox box(parent);
    box.setObjectName(QStringLiteral("AboutDlg"));
    box.setWindowTitle(QStringLiteral("About Quavermill"));
    box.setTextFormat(Qt::RichText);
    box.setText(AboutText());
    const QIcon icon = QIcon::fromTheme(QStringLiteral("quavermill"), QApplication::windowIcon());
    if (icon.isNull()) {
        box.setIcon(QMessageBox::Information);
    } else {
        box.setIconPixmap(icon.pixmap(64, 64));
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

} // namespace qm::ui
