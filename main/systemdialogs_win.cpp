// Windows's own Open, Save and Font dialogs.
#include "main/systemdialogs.h"

#include <QDir>
#include <QFontInfo>
#include <QWidget>

#include <windows.h>
// These need windows.h first.
#include <commdlg.h>
#include <shobjidl.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace tessarin {

namespace {

// Holds one reference to a COM object and lets it go at the end of its scope.
template <class T>
class Com {
public:
    Com() = default;
    ~Com() {
        if (p_ != nullptr) {
            p_->Release();
        }
    }
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;

    T* operator->() const { return p_; }
    T* get() const { return p_; }
    T** out() { return &p_; }

private:
    T* p_ = nullptr;
};

const wchar_t* wide(const QString& text) {
    return reinterpret_cast<const wchar_t*>(text.utf16());
}

// A failure the dialog reported, with the system's text for it.
[[noreturn]] void fail(HRESULT result) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(result), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = length > 0
                          ? QString::fromWCharArray(text, length).trimmed()
                          : QStringLiteral("0x%1").arg(ulong(result), 8, 16, QLatin1Char('0'));
    LocalFree(text);
    throw std::runtime_error(message.toStdString());
}

void check(HRESULT result) {
    if (FAILED(result)) {
        fail(result);
    }
}

// COM for the dialog, on the window's thread, where Qt has set it up already.
class ComUse {
public:
    ComUse() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComUse() {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }
    ComUse(const ComUse&) = delete;
    ComUse& operator=(const ComUse&) = delete;

private:
    HRESULT result_;
};

// The file system path of `item`; empty when it has none.
QString pathof(IShellItem* item) {
    wchar_t* path = nullptr;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
        return {};
    }
    const QString result = QDir::fromNativeSeparators(QString::fromWCharArray(path));
    CoTaskMemFree(path);
    return result;
}

HWND owner(QWidget* window) {
    return reinterpret_cast<HWND>(window->window()->winId());
}

}  // namespace

SystemChoice choosesystemfile(QWidget* window, bool save, const QString& folder,
                              const QString& name) {
    const ComUse com;
    Com<IFileDialog> dialog;
    check(CoCreateInstance(save ? CLSID_FileSaveDialog : CLSID_FileOpenDialog, nullptr,
                           CLSCTX_INPROC_SERVER, save ? IID_IFileSaveDialog : IID_IFileOpenDialog,
                           reinterpret_cast<void**>(dialog.out())));
    FILEOPENDIALOGOPTIONS options = 0;
    check(dialog->GetOptions(&options));
    // Any name goes to the load or the save, which report a missing file or folder and refuse an
    // existing name themselves.
    options &= ~(FOS_FILEMUSTEXIST | FOS_PATHMUSTEXIST | FOS_OVERWRITEPROMPT | FOS_CREATEPROMPT);
    options |= FOS_FORCEFILESYSTEM | FOS_NOVALIDATE | FOS_NOCHANGEDIR | FOS_DONTADDTORECENT;
    check(dialog->SetOptions(options));
    if (!folder.isEmpty()) {
        Com<IShellItem> start;
        const QString native = QDir::toNativeSeparators(folder);
        if (SUCCEEDED(SHCreateItemFromParsingName(wide(native), nullptr, IID_IShellItem,
                                                  reinterpret_cast<void**>(start.out())))) {
            dialog->SetFolder(start.get());
        }
    }
    if (!name.isEmpty()) {
        check(dialog->SetFileName(wide(name)));
    }
    const HRESULT shown = dialog->Show(owner(window));
    SystemChoice choice;
    if (Com<IShellItem> at; SUCCEEDED(dialog->GetFolder(at.out()))) {
        choice.folder = pathof(at.get());
    }
    if (shown == HRESULT_FROM_WIN32(ERROR_CANCELLED)) {
        return choice;
    }
    check(shown);
    Com<IShellItem> chosen;
    check(dialog->GetResult(chosen.out()));
    wchar_t* path = nullptr;
    check(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path));
    choice.accepted = true;
    choice.path = QDir::fromNativeSeparators(QString::fromWCharArray(path));
    CoTaskMemFree(path);
    return choice;
}

std::optional<QFont> choosesystemfont(QWidget* window, const QFont& grid) {
    // GDI's heights are in device pixels, the grid font's in the window's pixels.
    const qreal scale = window->devicePixelRatioF();
    const QFontInfo drawn(grid);
    LOGFONTW offered{};
    offered.lfHeight = -LONG(std::lround(drawn.pixelSize() * scale));
    offered.lfWeight = drawn.weight();
    offered.lfItalic = drawn.italic();
    offered.lfCharSet = SHIFTJIS_CHARSET;
    drawn.family().left(LF_FACESIZE - 1).toWCharArray(offered.lfFaceName);

    LOGFONTW chosen = offered;
    CHOOSEFONTW request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = owner(window);
    request.lpLogFont = &chosen;
    request.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT;
    if (!ChooseFontW(&request)) {
        if (const DWORD error = CommDlgExtendedError(); error != 0) {
            throw std::runtime_error(QStringLiteral("ChooseFont (%1)").arg(error).toStdString());
        }
        return std::nullopt;
    }
    const QString family = QString::fromWCharArray(chosen.lfFaceName);
    if (family == QString::fromWCharArray(offered.lfFaceName) &&
        std::abs(chosen.lfHeight) == std::abs(offered.lfHeight) &&
        chosen.lfWeight == offered.lfWeight && bool(chosen.lfItalic) == bool(offered.lfItalic)) {
        return grid;
    }
    QFont font = grid;
    font.setFamilies({family});
    font.setPixelSize(std::max(1, int(std::lround(std::abs(chosen.lfHeight) / scale))));
    // GDI's weights are Qt's; 0 stands for the font's own, which for a screen font is regular.
    font.setWeight(chosen.lfWeight == 0 ? QFont::Normal
                                        : QFont::Weight(std::clamp(int(chosen.lfWeight), 1, 1000)));
    font.setItalic(chosen.lfItalic != 0);
    return font;
}

}  // namespace tessarin
