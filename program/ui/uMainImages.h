#pragma once
// The pictures of the main window, drawn by the program itself: the logo, the error
// picture, the four tray icons (normal, printer offline, a folder that cannot be used, receipts
// that need a look)
// and the pictures of the pop-up notes.
#include <QIcon>
#include <QPixmap>

#include <vector>

namespace fp::uMainImages {

QPixmap LogoPicture();   // 64 x 64
QPixmap ErrorPicture();  // 32 x 32
QIcon TrayIconNormal();
QIcon TrayIconOffline();
QIcon TrayIconFolderFault();
// The printer with a warning triangle: receipts of unknown outcome wait for a look.
QIcon TrayIconAttention();

// The note pictures, 17 x 17, by index: 0 printer, 1 document, 2 printer with a red
// badge, 3 red circle, 4 document with a red badge, 5 warning triangle with a red badge.
std::vector<QPixmap> HintImages();

}  // namespace fp::uMainImages
