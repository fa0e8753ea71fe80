#include "about_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#include "playback/device_choice.h"

namespace tarrowin::app {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Tarrowin 2.5"));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/tarrowin.svg")).pixmap(64, 64));
    icon->setAccessibleName(QStringLiteral("Tarrowin icon"));
    top->addWidget(icon, 0, Qt::AlignTop);
    auto* text = new QLabel(this);
    text->setText(QStringLiteral("<b>Tarrowin 2.5</b><br>"
                                 "A composer that turns chaotic and self-similar number sequences into music.<br><br>"
                                 "Version " TARROWIN_VERSION "<br>"
                                 "Copyright \u00a9 2026 The Tarrowin developers<br>"
                                 "Free software under the GNU General Public License, version 3 or any later "
                                 "version (GPL-3.0-or-later), with no warranty.<br><br>"
                                 "Qt %1, FluidSynth %2, RtMidi %3")
                      .arg(QString::fromLatin1(qVersion()),
                           QString::fromStdString(synthesizerLibraryVersion()),
                           QString::fromStdString(midiLibraryVersion())));
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(text, 1);
    layout->addLayout(top);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    setMinimumWidth(360);
}

}  // namespace tarrowin::app
