// The resources linked into tavboot-gui.exe, read from the file: icon, menu, the port dialog template, manifest.
#include "tests/wine/resource_probe.h"

#include <cstring>
#include <set>
#include <string>

#include "res/resource_ids.h"
#include "tests/wine/gui_probe.h"

static const WORD kCzech = MAKELANGID(LANG_CZECH, SUBLANG_DEFAULT);  // 0x0405

// Class ordinals of a dialog template.
enum : WORD { kButtonAtom = 0x0080, kStaticAtom = 0x0082, kComboBoxAtom = 0x0085 };

struct DialogItemLayout {
    WORD class_atom;
    int id;
    const char* text;
    DWORD style;  // besides WS_CHILD | WS_VISIBLE
    short x, y, width, height;
};

static const DialogItemLayout kPortDialogItems[] = {
    {kButtonAtom, IDOK, "OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 97, 69, 50, 14},
    {kComboBoxAtom, IDC_PORT_LIST, "", CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 101, 18, 48, 53},
    {kStaticAtom, -1, "COM number", SS_LEFT | WS_GROUP, 18, 22, 42, 8},
    {kButtonAtom, -1, "COM port setting", BS_GROUPBOX, 7, 7, 166, 89},
    {kStaticAtom, -1, "Baude Rate   19 200Bd", SS_LEFT | WS_GROUP, 17, 42, 74, 8},
    {kStaticAtom, -1, "Data Rate      8bit", SS_LEFT | WS_GROUP, 17, 52, 58, 8},
    {kStaticAtom, -1, "Stop bits        1bit", SS_LEFT | WS_GROUP, 17, 63, 57, 8},
    {kStaticAtom, -1, "Parity             NO", SS_LEFT | WS_GROUP, 17, 73, 57, 8},
};
enum : int { kPortDialogItemCount = sizeof(kPortDialogItems) / sizeof(kPortDialogItems[0]) };

// Reads a dialog template front to back.
struct TemplateReader {
    const BYTE* at;

    WORD Word() {
        WORD value;
        std::memcpy(&value, at, sizeof(value));
        at += sizeof(value);
        return value;
    }
    DWORD Dword() {
        DWORD value;
        std::memcpy(&value, at, sizeof(value));
        at += sizeof(value);
        return value;
    }
    BYTE Byte() { return *at++; }
    std::string Text() {
        std::string text;
        for (WORD c = Word(); c != 0; c = Word()) text += static_cast<char>(c);
        return text;
    }
    // A name or an ordinal: 0 for none, the ordinal, or 0xFFFF0000 | length for a name.
    DWORD NameOrOrdinal(std::string* name) {
        WORD first = Word();
        if (first == 0) return 0;
        if (first == 0xFFFF) return Word();
        *name = static_cast<char>(first) + Text();
        return 0xFFFF0000u | static_cast<DWORD>(name->size());
    }
    void AlignDword(const BYTE* base) {
        while ((at - base) % 4 != 0) ++at;
    }
};

static const BYTE* ResourceBytes(HMODULE module, LPCSTR type, WORD id) {
    HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), kCzech);
    if (found == nullptr) return nullptr;
    return static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
}

static BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR context) {
    reinterpret_cast<std::set<WORD>*>(context)->insert(language);
    return TRUE;
}

static void ExpectOnlyCzech(HMODULE module, LPCSTR type, WORD id, const char* what) {
    std::set<WORD> languages;
    EnumResourceLanguagesA(module, type, MAKEINTRESOURCEA(id), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    Expect(languages.size() == 1 && languages.count(kCzech) == 1,
           std::string(what) + " tagged 0x0405 only");
}

static BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR context) {
    if (IS_INTRESOURCE(type)) {
        reinterpret_cast<std::set<ULONG_PTR>*>(context)->insert(reinterpret_cast<ULONG_PTR>(type));
    }
    return TRUE;
}

static void CheckResourceTypes(HMODULE module) {
    std::set<ULONG_PTR> types;
    EnumResourceTypesA(module, CollectType, reinterpret_cast<LONG_PTR>(&types));
    for (LPCSTR absent : {RT_STRING, RT_ACCELERATOR, RT_VERSION}) {
        Expect(types.count(reinterpret_cast<ULONG_PTR>(absent)) == 0,
               "no string table, accelerators or version block");
    }
}

// One 32 x 32 image with 16 colours.
static void CheckIcon(HMODULE module) {
    ExpectOnlyCzech(module, RT_GROUP_ICON, IDI_TAVBOOT, "icon 101");
    const BYTE* group = ResourceBytes(module, RT_GROUP_ICON, IDI_TAVBOOT);
    if (group == nullptr) {
        Expect(false, "icon group 101");
        return;
    }
    TemplateReader reader = {group};
    reader.Word();
    reader.Word();
    ExpectText(std::to_string(reader.Word()), "1", "icon images");
    const int width = reader.Byte(), height = reader.Byte(), colours = reader.Byte();
    reader.Byte();
    reader.Word();
    const int bits = reader.Word();
    Expect(width == 32 && height == 32 && colours == 16 && bits == 4, "icon 32 x 32, 16 colours");
}

struct MenuSpec {
    const char* popup;
    const char* item;
    UINT command;
};

static void CheckMenu(HMODULE module) {
    static const MenuSpec kMenu[] = {
        {"Soubor", "Exit", IDM_EXIT}, {"Options", "COM", IDM_PORT}, {"Help", "About", IDM_ABOUT},
    };
    ExpectOnlyCzech(module, RT_MENU, IDM_MAIN_MENU, "menu 102");
    const BYTE* bytes = ResourceBytes(module, RT_MENU, IDM_MAIN_MENU);
    HMENU menu = bytes != nullptr ? LoadMenuIndirectA(bytes) : nullptr;
    if (menu == nullptr) {
        Expect(false, "menu 102");
        return;
    }
    ExpectText(std::to_string(GetMenuItemCount(menu)), "3", "menu pop-ups");
    for (int i = 0; i < 3; ++i) {
        char text[64] = "";
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof(text), MF_BYPOSITION);
        ExpectText(text, kMenu[i].popup, "pop-up");
        HMENU popup = GetSubMenu(menu, i);
        ExpectText(std::to_string(GetMenuItemCount(popup)), "1", "items of a pop-up");
        GetMenuStringA(popup, 0, text, sizeof(text), MF_BYPOSITION);
        ExpectText(text, kMenu[i].item, "menu item");
        ExpectText(std::to_string(GetMenuItemID(popup, 0)), std::to_string(kMenu[i].command), "command id");
        Expect((GetMenuState(popup, 0, MF_BYPOSITION) & (MF_CHECKED | MF_GRAYED | MF_DISABLED)) == 0,
               "menu item neither checked nor greyed");
    }
    DestroyMenu(menu);
}

static void CheckDialogItem(TemplateReader& reader, const BYTE* base, const DialogItemLayout& item) {
    reader.AlignDword(base);
    const std::string label = std::string("dialog item \"") + item.text + "\"";
    const DWORD help_id = reader.Dword(), ex_style = reader.Dword(), style = reader.Dword();
    const short x = static_cast<short>(reader.Word()), y = static_cast<short>(reader.Word());
    const short width = static_cast<short>(reader.Word()), height = static_cast<short>(reader.Word());
    const int id = static_cast<int>(reader.Dword());
    std::string class_name, text;
    const DWORD class_atom = reader.NameOrOrdinal(&class_name);
    reader.NameOrOrdinal(&text);
    reader.at += reader.Word();  // creation data
    Expect(help_id == 0 && ex_style == 0, label + ": no help id or extended style");
    ExpectText(std::to_string(style), std::to_string(WS_CHILD | WS_VISIBLE | item.style), label + " style");
    Expect(x == item.x && y == item.y && width == item.width && height == item.height,
           label + " place and size");
    ExpectText(std::to_string(id), std::to_string(item.id), label + " id");
    ExpectText(std::to_string(class_atom), std::to_string(item.class_atom), label + " class");
    ExpectText(text, item.text, label + " text");
}

// The extended template, field by field.
static void CheckPortDialog(HMODULE module) {
    ExpectOnlyCzech(module, RT_DIALOG, IDD_PORT_DIALOG, "dialog 103");
    const BYTE* base = ResourceBytes(module, RT_DIALOG, IDD_PORT_DIALOG);
    if (base == nullptr) {
        Expect(false, "dialog 103");
        return;
    }
    TemplateReader reader = {base};
    const WORD version = reader.Word(), signature = reader.Word();
    Expect(version == 1 && signature == 0xFFFF, "extended dialog template");
    const DWORD help_id = reader.Dword(), ex_style = reader.Dword(), style = reader.Dword();
    Expect(help_id == 0 && ex_style == 0, "dialog: no help id or extended style");
    const DWORD wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS;
    ExpectText(std::to_string(style), std::to_string(wanted), "dialog style");
    const int items = reader.Word();
    const short x = static_cast<short>(reader.Word()), y = static_cast<short>(reader.Word());
    const short width = static_cast<short>(reader.Word()), height = static_cast<short>(reader.Word());
    Expect(x == 0 && y == 0 && width == 180 && height == 103, "dialog at 0, 0, 180 x 103");
    std::string menu, window_class;
    Expect(reader.NameOrOrdinal(&menu) == 0 && reader.NameOrOrdinal(&window_class) == 0,
           "no menu, standard dialog class");
    ExpectText(reader.Text(), "", "dialog title");
    const WORD points = reader.Word(), weight = reader.Word();
    const BYTE italic = reader.Byte(), charset = reader.Byte();
    Expect(points == 8 && weight == 400 && italic == 0 && charset == 1, "font 8 points, 400, upright, charset 1");
    ExpectText(reader.Text(), "MS Shell Dlg", "font face");
    ExpectText(std::to_string(items), std::to_string(kPortDialogItemCount), "dialog items");
    if (items != kPortDialogItemCount) return;
    for (const DialogItemLayout& item : kPortDialogItems) CheckDialogItem(reader, base, item);
}

// UTF-8 as the process code page, and no common-controls version 6: the window keeps its look.
static void CheckManifest(HMODULE module) {
    const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST);
    const char* bytes = found ? static_cast<const char*>(LockResource(LoadResource(module, found))) : nullptr;
    const std::string text = bytes ? std::string(bytes, SizeofResource(module, found)) : std::string();
    Expect(text.find(">UTF-8</activeCodePage>") != std::string::npos, "manifest asks for UTF-8 names");
    Expect(text.find("Common-Controls") == std::string::npos, "manifest keeps the classic controls");
}

void CheckGuiResources(const char* exe_path) {
    HMODULE module = LoadLibraryExA(exe_path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        Expect(false, std::string("load resources of ") + exe_path);
        return;
    }
    CheckResourceTypes(module);
    CheckIcon(module);
    CheckMenu(module);
    CheckPortDialog(module);
    CheckManifest(module);
    FreeLibrary(module);
}
