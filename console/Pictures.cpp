#include "console/Pictures.h"

#include <wx/bmpbndl.h>
#include <wx/image.h>

#include <string_view>

namespace zephyrate {

// Generated from resources/pictures/*.svg by the build: the text of the picture named.
std::string_view PictureText(std::string_view name);

namespace {

struct Drawing {
    const char* name;
    int width;
    int height;
};

Drawing DrawingOf(Picture picture) {
    switch (picture) {
        case Picture::Program:
            return {"zephyrate", 48, 48};
        case Picture::JobDone:
            return {"job-done", 16, 16};
        case Picture::JobError:
            return {"job-error", 16, 16};
        case Picture::JobWorking:
            return {"job-working", 16, 16};
        case Picture::JobQueued:
            return {"job-queued", 16, 16};
        case Picture::FolderClosed:
            return {"folder-closed", 16, 16};
        case Picture::FolderOpen:
            return {"folder-open", 16, 16};
        case Picture::Logo:
            return {"logo", 150, 110};
        case Picture::About:
            return {"about", 95, 68};
    }
    return {"zephyrate", 48, 48};
}

wxBitmap Render(std::string_view name, wxSize size) {
    const std::string_view text = PictureText(name);
    return wxBitmapBundle::FromSVG(reinterpret_cast<const wxByte*>(text.data()), text.size(), size)
        .GetBitmap(size);
}

}  // namespace

wxBitmap PictureBitmap(Picture picture) {
    const Drawing drawing = DrawingOf(picture);
    return Render(drawing.name, wxSize(drawing.width, drawing.height));
}

wxIconBundle ProgramIcons() {
    wxIconBundle icons;
    for (int side : {16, 24, 32, 48, 64, 128}) {
        wxIcon icon;
        icon.CopyFromBitmap(Render("zephyrate", wxSize(side, side)));
        icons.AddIcon(icon);
    }
    return icons;
}

wxCursor HandCursor() {
    wxImage image = Render("hand-cursor", wxSize(32, 32)).ConvertToImage();
    image.SetOption(wxIMAGE_OPTION_CUR_HOTSPOT_X, 11);
    image.SetOption(wxIMAGE_OPTION_CUR_HOTSPOT_Y, 2);
    return wxCursor(image);
}

}  // namespace zephyrate
