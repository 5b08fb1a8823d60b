// The resources as the program finds them at run time: templates, menu,
// strings, icon group and manifest.
#include "tests/support/MainDialog.h"

#include <commctrl.h>

#include <gmock/gmock.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "res/resource.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

HINSTANCE Module() { return GetModuleHandleW(nullptr); }

INT_PTR CALLBACK PlainProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG ? TRUE : FALSE; }

// A control's rectangle in its dialog's client coordinates.
RECT ClientRectOf(HWND dialog, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Where the dialog manager puts a control: position and size are converted
// from dialog units each on its own, as the template gives them.
RECT DialogUnits(HWND dialog, int x, int y, int w, int h) {
    RECT position = {x, y, w, h};
    MapDialogRect(dialog, &position);
    return {position.left, position.top, position.left + position.right, position.top + position.bottom};
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// A DLGTEMPLATEEX read back from the module, as the dialog manager reads it.
struct TemplateItem {
    DWORD exStyle, style;
    short x, y, cx, cy;
    int id;
    std::wstring cls;   // name, or "#n" for a predefined class ordinal
    std::wstring text;  // text, or "#n" for a resource ordinal
};
struct DialogTemplate {
    DWORD exStyle, style;
    short x, y, cx, cy;
    std::wstring menu, cls, caption;
    WORD pointSize, weight;
    BYTE italic, charset;
    std::wstring font;
    std::vector<TemplateItem> items;
};

class TemplateReader {
public:
    explicit TemplateReader(const BYTE* at) : p(at) {}
    WORD Word() { WORD v; std::memcpy(&v, p, 2); p += 2; return v; }
    DWORD Dword() { DWORD v; std::memcpy(&v, p, 4); p += 4; return v; }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte() { return *p++; }
    std::wstring String() {
        std::wstring s;
        for (WORD c = Word(); c != 0; c = Word()) s += static_cast<wchar_t>(c);
        return s;
    }
    std::wstring NameOrOrdinal() {
        WORD first;
        std::memcpy(&first, p, 2);
        if (first == 0xFFFF) {
            p += 2;
            return L"#" + std::to_wstring(Word());
        }
        return String();
    }
    void AlignDword(const BYTE* base) {
        while ((p - base) % 4 != 0) ++p;
    }

private:
    const BYTE* p;
};

// Template classes may be stored as the predefined ordinals.
bool SameClass(const std::wstring& stored, const wchar_t* name) {
    const wchar_t* ordinal = stored == L"#130" ? L"Static" : stored == L"#133" ? L"ComboBox" : stored.c_str();
    return _wcsicmp(ordinal, name) == 0;
}

DialogTemplate ReadTemplate(int id) {
    DialogTemplate t{};
    HRSRC found = FindResourceW(Module(), MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    if (found == nullptr) return t;
    const auto* base = static_cast<const BYTE*>(LockResource(LoadResource(Module(), found)));
    TemplateReader r(base);
    if (r.Word() != 1 || r.Word() != 0xFFFF) return t;  // not an extended template
    r.Dword();                                           // help id
    t.exStyle = r.Dword();
    t.style = r.Dword();
    const WORD count = r.Word();
    t.x = r.Short(), t.y = r.Short(), t.cx = r.Short(), t.cy = r.Short();
    t.menu = r.NameOrOrdinal();
    t.cls = r.NameOrOrdinal();
    t.caption = r.String();
    if (t.style & (DS_SETFONT | DS_FIXEDSYS)) {
        t.pointSize = r.Word(), t.weight = r.Word(), t.italic = r.Byte(), t.charset = r.Byte();
        t.font = r.String();
    }
    for (WORD i = 0; i < count; ++i) {
        r.AlignDword(base);
        TemplateItem item{};
        r.Dword();  // help id
        item.exStyle = r.Dword();
        item.style = r.Dword();
        item.x = r.Short(), item.y = r.Short(), item.cx = r.Short(), item.cy = r.Short();
        item.id = static_cast<int>(r.Dword());
        item.cls = r.NameOrOrdinal();
        item.text = r.NameOrOrdinal();
        const WORD extra = r.Word();
        for (WORD k = 0; k < extra; ++k) r.Byte();
        t.items.push_back(item);
    }
    return t;
}

struct MenuItem {
    std::wstring text;
    UINT id;
    UINT type;
    UINT state;
    HMENU submenu;
};

MenuItem ItemAt(HMENU menu, UINT position) {
    wchar_t text[128] = {};
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING | MIIM_SUBMENU;
    info.dwTypeData = text;
    info.cch = 128;
    GetMenuItemInfoW(menu, position, TRUE, &info);
    return {text, info.wID, info.fType, info.fState, info.hSubMenu};
}

}  // namespace

TEST(Resources, DialogTemplatesAreExactlyAsLaidOut) {
    const DialogTemplate main = ReadTemplate(IDD_MAIN);
    EXPECT_EQ(main.style, static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_SETFONT | DS_FIXEDSYS |
                                             DS_CENTER | DS_ABSALIGN));
    EXPECT_EQ(main.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT));
    EXPECT_THAT(std::tie(main.x, main.y, main.cx, main.cy), ::testing::FieldsAre(0, 0, 269, 173));
    EXPECT_EQ(main.menu, L"#102");
    EXPECT_EQ(main.caption, L"Vantrel");
    EXPECT_EQ(main.font, L"MS Shell Dlg");
    EXPECT_EQ(main.pointSize, 8);
    EXPECT_EQ(main.weight, 400);
    const struct {
        int id;
        const wchar_t* cls;
        short x, y, cx, cy;
        DWORD style;
    } controls[] = {
        {IDC_TASK, L"ComboBox", 7, 7, 48, 67, CBS_DROPDOWNLIST | CBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP},
        {IDC_THREADS, L"ComboBox", 213, 7, 48, 67, CBS_DROPDOWNLIST | CBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP},
        {IDC_PROGRESS, L"msctls_progress32", 7, 152, 254, 14, WS_BORDER},
        {IDC_GRID, L"SysListView32", 7, 28, 254, 116, LVS_REPORT | LVS_ALIGNLEFT | WS_BORDER | WS_TABSTOP},
    };
    ASSERT_EQ(main.items.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const TemplateItem& item = main.items[i];
        EXPECT_EQ(item.id, controls[i].id);
        EXPECT_TRUE(SameClass(item.cls, controls[i].cls)) << item.cls;
        EXPECT_EQ(item.style, WS_CHILD | WS_VISIBLE | controls[i].style);
        EXPECT_EQ(item.exStyle, 0u);
        EXPECT_EQ(std::tie(item.x, item.y, item.cx, item.cy),
                  std::tie(controls[i].x, controls[i].y, controls[i].cx, controls[i].cy));
    }

    const DialogTemplate about = ReadTemplate(IDD_ABOUT);
    EXPECT_EQ(about.style,
              static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS));
    EXPECT_EQ(about.exStyle, static_cast<DWORD>(WS_EX_TOOLWINDOW));
    EXPECT_THAT(std::tie(about.x, about.y, about.cx, about.cy), ::testing::FieldsAre(0, 0, 178, 39));
    EXPECT_EQ(about.menu, L"");
    EXPECT_EQ(about.caption, L"About Vantrel...");
    EXPECT_EQ(about.font, L"MS Shell Dlg");
    EXPECT_EQ(about.pointSize, 8);
    const struct {
        int id;
        const wchar_t* text;
        short x, y, cx, cy;
        DWORD style;
    } statics[] = {
        {-1, L"#50000", 6, 4, 20, 20, SS_ICON | SS_REALSIZEIMAGE},
        {IDC_ABOUT_TITLE, L"Vantrel Version 2.0", 42, 4, 119, 8, SS_LEFT | SS_NOPREFIX | WS_GROUP},
        {IDC_ABOUT_COPYRIGHT, nullptr, 42, 19, 126, 8, SS_LEFT | WS_GROUP},
    };
    ASSERT_EQ(about.items.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const TemplateItem& item = about.items[i];
        EXPECT_EQ(item.id, statics[i].id);
        EXPECT_TRUE(SameClass(item.cls, L"Static")) << item.cls;
        if (statics[i].text != nullptr) {
            EXPECT_EQ(item.text, statics[i].text);
        }
        EXPECT_EQ(item.style, WS_CHILD | WS_VISIBLE | statics[i].style);
        EXPECT_EQ(std::tie(item.x, item.y, item.cx, item.cy),
                  std::tie(statics[i].x, statics[i].y, statics[i].cx, statics[i].cy));
    }
    EXPECT_THAT(about.items[2].text, ::testing::StartsWith(L"Copyright"));
}

TEST(Resources, MainWindowOpensCentredWithEveryControlCreated) {
    HWND dialog = CreateDialogParamW(Module(), MAKEINTRESOURCEW(IDD_MAIN), GetDesktopWindow(), PlainProc, 0);
    ASSERT_NE(dialog, nullptr);
    RECT frame, work;
    GetWindowRect(dialog, &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((frame.left + frame.right) / 2, (work.left + work.right) / 2, 2);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, (work.top + work.bottom) / 2, 2);
    RECT client;
    GetClientRect(dialog, &client);
    const RECT size = DialogUnits(dialog, 0, 0, 269, 173);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);
    // The Common Controls classes were there to create the bar and the grid.
    EXPECT_EQ(ClassOf(GetDlgItem(dialog, IDC_PROGRESS)), L"msctls_progress32");
    EXPECT_EQ(ClassOf(GetDlgItem(dialog, IDC_GRID)), L"SysListView32");
    const RECT gridWant = DialogUnits(dialog, 7, 28, 254, 116);
    const RECT grid = ClientRectOf(dialog, GetDlgItem(dialog, IDC_GRID));
    EXPECT_EQ(grid.left, gridWant.left);
    EXPECT_EQ(grid.top, gridWant.top);
    EXPECT_EQ(grid.bottom, gridWant.bottom);
    DestroyWindow(dialog);
}

TEST(Resources, AboutBoxSitsOnItsOwnersClientAreaWithTheIcon) {
    HWND owner = CreateDialogParamW(Module(), MAKEINTRESOURCEW(IDD_MAIN), GetDesktopWindow(), PlainProc, 0);
    ASSERT_NE(owner, nullptr);
    HWND about = CreateDialogParamW(Module(), MAKEINTRESOURCEW(IDD_ABOUT), owner, PlainProc, 0);
    ASSERT_NE(about, nullptr);
    POINT ownerOrigin = {0, 0}, aboutOrigin = {0, 0};
    ClientToScreen(owner, &ownerOrigin);
    ClientToScreen(about, &aboutOrigin);
    EXPECT_EQ(aboutOrigin.x, ownerOrigin.x);
    EXPECT_EQ(aboutOrigin.y, ownerOrigin.y);
    EXPECT_NE(SendMessageW(GetWindow(about, GW_CHILD), STM_GETICON, 0, 0), 0);
    DestroyWindow(about);
    DestroyWindow(owner);
}

TEST(Resources, MenuBarHasItsItemsMnemonicsAndRightJustifiedAbout) {
    HMENU menu = LoadMenuW(Module(), MAKEINTRESOURCEW(IDR_MAINMENU));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 4);
    const MenuItem file = ItemAt(menu, 0);
    EXPECT_EQ(file.text, L"&File");
    ASSERT_NE(file.submenu, nullptr);
    const MenuItem start = ItemAt(menu, 1), stop = ItemAt(menu, 2), about = ItemAt(menu, 3);
    EXPECT_EQ(start.text, L"St&art");
    EXPECT_EQ(start.id, static_cast<UINT>(IDM_START));
    EXPECT_EQ(stop.text, L"St&op");
    EXPECT_EQ(stop.id, static_cast<UINT>(IDM_STOP));
    EXPECT_EQ(about.text, L"&About");
    EXPECT_EQ(about.id, static_cast<UINT>(IDM_ABOUT));
    EXPECT_NE(about.type & MFT_RIGHTJUSTIFY, 0u);
    EXPECT_EQ(start.type & MFT_RIGHTJUSTIFY, 0u);

    const struct {
        const wchar_t* text;
        UINT id;
    } items[] = {{L"&Clear Grid", IDM_CLEAR_GRID}, {nullptr, 0},       {L"Save &Primes...", IDM_SAVE_PRIMES},
                 {L"Save Result &Grid...", IDM_SAVE_GRID}, {nullptr, 0}, {L"E&xit", IDM_EXIT}};
    ASSERT_EQ(GetMenuItemCount(file.submenu), 6);
    for (UINT i = 0; i < 6; ++i) {
        const MenuItem item = ItemAt(file.submenu, i);
        SCOPED_TRACE(i);
        if (items[i].text == nullptr) {
            EXPECT_NE(item.type & MFT_SEPARATOR, 0u);
        } else {
            EXPECT_EQ(item.text, items[i].text);
            EXPECT_EQ(item.id, items[i].id);
            EXPECT_EQ(item.state & MFS_GRAYED, 0u);  // all enabled in the resource
        }
    }
    DestroyMenu(menu);
}

TEST(Resources, StringTableHoldsTheProgramsTexts) {
    const struct {
        UINT id;
        const wchar_t* text;
    } strings[] = {{IDS_PLATFORM_X86, L"x86"}, {IDS_PLATFORM_X64, L"x64"},
                   {IDS_APP_NAME, L"Vantrel"}, {IDS_AUTHOR, L"The Vantrel developers"},
                   {IDS_COPYRIGHT, L"Copyright (C) 2026"}, {IDS_VERSION, L"Version 2.0"}};
    for (const auto& s : strings) {
        wchar_t text[260] = {};
        EXPECT_GT(LoadStringW(Module(), s.id, text, 260), 0);
        EXPECT_STREQ(text, s.text);
    }
}

TEST(Resources, IconGroupHasThreeSizesAt32BitsPerPixel) {
    HRSRC found = FindResourceW(Module(), MAKEINTRESOURCEW(IDI_APP), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
    ASSERT_NE(found, nullptr);
    const auto* data = static_cast<const unsigned char*>(LockResource(LoadResource(Module(), found)));
    ASSERT_NE(data, nullptr);
    auto word = [&](size_t at) { return static_cast<unsigned>(data[at] | (data[at + 1] << 8)); };
    ASSERT_EQ(word(2), 1u);  // icons, not cursors
    ASSERT_EQ(word(4), 3u);
    const unsigned sizes[] = {48, 32, 16};
    for (size_t i = 0; i < 3; ++i) {
        const size_t entry = 6 + 14 * i;
        EXPECT_EQ(data[entry], sizes[i]);
        EXPECT_EQ(data[entry + 1], sizes[i]);
        EXPECT_EQ(word(entry + 6), 32u);  // bits per pixel
        HANDLE image = LoadImageW(Module(), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, static_cast<int>(sizes[i]),
                                  static_cast<int>(sizes[i]), 0);
        EXPECT_NE(image, nullptr);
        DestroyIcon(static_cast<HICON>(image));
    }
}

TEST(Resources, ManifestAsksForCommonControls6AsInvoker) {
    HRSRC found = FindResourceW(Module(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /* RT_MANIFEST */);
    ASSERT_NE(found, nullptr);
    const char* data = static_cast<const char*>(LockResource(LoadResource(Module(), found)));
    const std::string manifest(data, SizeofResource(Module(), found));
    EXPECT_THAT(manifest, HasSubstr("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    // The program and the controls it asks for are of the build's architecture.
#ifdef _WIN64
    const std::string architecture = "processorArchitecture=\"amd64\"";
#else
    const std::string architecture = "processorArchitecture=\"x86\"";
#endif
    EXPECT_THAT(manifest, AllOf(HasSubstr("name=\"Vantrel\" version=\"2.0.0.0\" " + architecture + "/>"),
                                HasSubstr(architecture + " publicKeyToken=\"6595b64144ccf1df\""),
                                HasSubstr("level=\"asInvoker\" uiAccess=\"false\"")));

    // And the process really got the controls of version 6, from side by side.
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"comctl32.dll"), path, MAX_PATH);
    std::wstring lower(path);
    for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
    EXPECT_THAT(lower, HasSubstr(L"microsoft.windows.common-controls_6595b64144ccf1df_6."));
}
