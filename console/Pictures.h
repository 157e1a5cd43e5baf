// The window's pictures, drawn for this program as SVG (resources/pictures) and built into
// the program, so that it shows them wherever it is installed.
// Main thread only (wxWidgets bitmaps).
#pragma once

#include <wx/bitmap.h>
#include <wx/cursor.h>
#include <wx/iconbndl.h>
#include <wx/imaglist.h>

namespace zephyrate {

enum class Picture {
    Program,  // the program's icon
    JobDone,
    JobError,
    JobWorking,
    JobQueued,
    FolderClosed,
    FolderOpen,
    Logo,
    About,
};

// The picture at its own drawn size.
wxBitmap PictureBitmap(Picture picture);
// The program's icon at the usual sizes, for the window manager.
wxIconBundle ProgramIcons();
// The hand shown over the clickable logo, its hot spot at the fingertip.
wxCursor HandCursor();

}  // namespace zephyrate
