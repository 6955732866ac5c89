#include "settings/settings_sheet_win.h"

#include <commctrl.h>

#include <array>
#include <iterator>
#include <memory>
#include <string>

#include "app/framework_win.h"
#include "res/resource.h"
#include "settings/settings_pages.h"
#include "settings/settings_store.h"

namespace dozerin {
namespace {

void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
  for (std::size_t at = text->find(from); at != std::string::npos;
       at = text->find(from, at + to.size())) {
    text->replace(at, from.size(), to);
  }
}

struct AddDialogState {
  int field_id;
  std::string text;
};

INT_PTR AddDialogMessage(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<AddDialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<AddDialogState*>(lparam);
      SetWindowLongPtrA(dialog, DWLP_USER, lparam);
      // Centred over the sheet that owns it.
      RECT owner_rect, own_rect;
      HWND owner = GetWindow(dialog, GW_OWNER);
      if (owner != nullptr && GetWindowRect(owner, &owner_rect) &&
          GetWindowRect(dialog, &own_rect)) {
        const int w = own_rect.right - own_rect.left;
        const int h = own_rect.bottom - own_rect.top;
        SetWindowPos(dialog, nullptr, (owner_rect.left + owner_rect.right - w) / 2,
                     (owner_rect.top + owner_rect.bottom - h) / 2, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      SetDlgItemTextA(dialog, state->field_id, state->text.c_str());
      EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
      SetFocus(GetDlgItem(dialog, state->field_id));
      return FALSE;  // the focus is set
    }
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      if (id == state->field_id && HIWORD(wparam) == EN_CHANGE) {
        // Any character counts, blanks included.
        EnableWindow(GetDlgItem(dialog, IDOK), GetWindowTextLengthA(GetDlgItem(dialog, id)) > 0);
        return TRUE;
      }
      if (id == IDOK) {
        if (!IsWindowEnabled(GetDlgItem(dialog, IDOK))) return TRUE;  // Enter with nothing typed
        state->text = win::WindowText(GetDlgItem(dialog, state->field_id));
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (id == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK AddDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  return win::Guarded<INT_PTR>(FALSE,
                               [&] { return AddDialogMessage(dialog, message, wparam, lparam); });
}

struct SheetState;

// One page of the sheet: the dialog that shows it and the logic behind it.
class PageHost : public PageView {
 public:
  PageHost(SheetState& sheet, int template_id) : sheet_(sheet), template_id_(template_id) {}
  void SetPage(std::unique_ptr<SettingsPage> page) { page_ = std::move(page); }
  int template_id() const { return template_id_; }
  bool created() const { return hwnd_ != nullptr; }

  static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static INT_PTR HandleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  // PageView
  std::string ItemText(int id) override { return win::WindowText(GetDlgItem(hwnd_, id)); }
  void SetItemText(int id, const std::string& text) override {
    SetDlgItemTextA(hwnd_, id, text.c_str());
  }
  bool Checked(int id) override { return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }
  void SetChecked(int id, bool checked) override {
    CheckDlgButton(hwnd_, id, checked ? BST_CHECKED : BST_UNCHECKED);
  }
  void SetSpinRange(int id, std::uint32_t low, std::uint32_t high) override {
    SendDlgItemMessageA(hwnd_, id, UDM_SETRANGE32, low, high);
  }
  void FocusAndSelectAll(int id) override {
    HWND field = GetDlgItem(hwnd_, id);
    SetFocus(field);
    SendMessageA(field, EM_SETSEL, 0, -1);
  }
  void ShowNotAnInteger() override { Message(win::LoadResString(IDS_PARSE_INT)); }
  void ShowOutOfRange(std::uint32_t low, std::uint32_t high) override {
    std::string text = win::LoadResString(IDS_PARSE_INT_RANGE);
    ReplaceAll(&text, "%1", std::to_string(low));
    ReplaceAll(&text, "%2", std::to_string(high));
    Message(text);
  }
  void ShowWriteFailed() override { Message(win::LoadResString(IDS_SETTINGS_WRITE_FAILED)); }
  std::vector<std::string> ListEntries(int id) override {
    std::vector<std::string> entries;
    const LRESULT count = SendDlgItemMessageA(hwnd_, id, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      const LRESULT length = SendDlgItemMessageA(hwnd_, id, LB_GETTEXTLEN, i, 0);
      if (length < 0) break;
      std::string text(static_cast<std::size_t>(length) + 1, '\0');
      const LRESULT n =
          SendDlgItemMessageA(hwnd_, id, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
      text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
      entries.push_back(std::move(text));
    }
    return entries;
  }
  void AppendListEntry(int id, const std::string& text) override {
    SendDlgItemMessageA(hwnd_, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  int ListSelection(int id) override {
    const LRESULT selected = SendDlgItemMessageA(hwnd_, id, LB_GETCURSEL, 0, 0);
    return selected == LB_ERR ? -1 : static_cast<int>(selected);
  }
  void RemoveListEntry(int id, int index) override {
    SendDlgItemMessageA(hwnd_, id, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
    SendDlgItemMessageA(hwnd_, id, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  }
  void SelectListEntry(int id, int index) override {
    SendDlgItemMessageA(hwnd_, id, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  std::optional<std::string> RunAddDialog(int template_id) override {
    AddDialogState state{template_id == IDD_ADD_PROCESS  ? IDC_ADD_PROCESS_NAME
                         : template_id == IDD_ADD_WINDOW ? IDC_ADD_WINDOW_NAME
                                                         : IDC_ADD_CONNECTION_PORT,
                         {}};
    const INT_PTR result =
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(template_id), GetParent(hwnd_),
                        AddDialogProc, reinterpret_cast<LPARAM>(&state));
    if (result != IDOK) return std::nullopt;
    return state.text;
  }

 private:
  void Message(const std::string& text) {
    win::ShowMessage(GetParent(hwnd_), text, MB_OK | MB_ICONEXCLAMATION);
  }
  INT_PTR OnNotify(const NMHDR* header);

  SheetState& sheet_;
  int template_id_;
  HWND hwnd_ = nullptr;
  std::unique_ptr<SettingsPage> page_;
};

struct SheetState {
  std::array<std::unique_ptr<PageHost>, 5> pages;
  bool saved = false;  // the last displayed page saved: the sheet ends with OK
};

INT_PTR PageHost::OnNotify(const NMHDR* header) {
  switch (header->code) {
    case PSN_SETACTIVE:
      // Back on the tab: the values as the page took them when it was left, formatted anew.
      page_->Activate();
      SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, 0);
      return TRUE;
    case PSN_KILLACTIVE: {
      const bool ok = page_->Check();
      SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, ok ? FALSE : TRUE);
      return TRUE;
    }
    case PSN_APPLY: {
      const bool ok = page_->Save();
      SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, ok ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE);
      // The sheet saves the displayed pages in tab order; the last one closes the round.
      const PageHost* last = nullptr;
      for (const auto& page : sheet_.pages) {
        if (page->created()) last = page.get();
      }
      if (ok && last == this) sheet_.saved = true;
      return TRUE;
    }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK PageHost::Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return win::Guarded<INT_PTR>(FALSE, [&] { return HandleMessage(hwnd, message, wparam, lparam); });
}

INT_PTR PageHost::HandleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<PageHost*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      self = reinterpret_cast<PageHost*>(reinterpret_cast<PROPSHEETPAGEA*>(lparam)->lParam);
      SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
      self->hwnd_ = hwnd;
      self->page_->Initialize();
      return TRUE;
    }
    case WM_COMMAND:
      if (self != nullptr && HIWORD(wparam) == BN_CLICKED) {
        self->page_->OnCommand(LOWORD(wparam));
        return TRUE;
      }
      return FALSE;
    case WM_NOTIFY:
      return self != nullptr ? self->OnNotify(reinterpret_cast<const NMHDR*>(lparam)) : FALSE;
    default:
      return FALSE;
  }
}

// Moved to a monitor of another scale, the sheet takes the size the system suggests there; the
// system scales its pages and their fonts (the program is aware of each monitor's scale).
LRESULT CALLBACK SheetSubclass(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                               DWORD_PTR) {
  if (message == WM_DPICHANGED && lparam != 0) {
    const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
    SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  } else if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, SheetSubclass, 1);
  }
  return DefSubclassProc(hwnd, message, wparam, lparam);
}

int CALLBACK SheetCallback(HWND hwnd, UINT message, LPARAM) {
  if (message == PSCB_INITIALIZED) SetWindowSubclass(hwnd, SheetSubclass, 1, 0);
  return 0;
}

}  // namespace

bool ShowSettingsSheet(HWND owner, SettingsStore& store) {
  SheetState sheet;
  const int templates[] = {IDD_PAGE_GENERAL, IDD_PAGE_PROCESS, IDD_PAGE_WINDOW, IDD_PAGE_OPTION,
                           IDD_PAGE_CONNECTION};
  for (std::size_t i = 0; i < sheet.pages.size(); ++i) {
    sheet.pages[i] = std::make_unique<PageHost>(sheet, templates[i]);
  }
  sheet.pages[0]->SetPage(std::make_unique<CPageGeneral>(store, *sheet.pages[0]));
  sheet.pages[1]->SetPage(std::make_unique<CPageProcess>(store, *sheet.pages[1]));
  sheet.pages[2]->SetPage(std::make_unique<CPageWindow>(store, *sheet.pages[2]));
  sheet.pages[3]->SetPage(std::make_unique<CPageOption>(store, *sheet.pages[3]));
  sheet.pages[4]->SetPage(std::make_unique<CPageConnection>(store, *sheet.pages[4]));

  PROPSHEETPAGEA pages[std::size(templates)] = {};
  for (std::size_t i = 0; i < std::size(templates); ++i) {
    pages[i].dwSize = sizeof pages[i];
    pages[i].dwFlags = PSP_DEFAULT;
    pages[i].hInstance = GetModuleHandleA(nullptr);
    pages[i].pszTemplate = MAKEINTRESOURCEA(sheet.pages[i]->template_id());
    pages[i].pfnDlgProc = PageHost::Proc;
    pages[i].lParam = reinterpret_cast<LPARAM>(sheet.pages[i].get());
  }
  PROPSHEETHEADERA header = {};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_NOCONTEXTHELP | PSH_USECALLBACK;
  header.pfnCallback = SheetCallback;
  header.hwndParent = owner;
  header.hInstance = GetModuleHandleA(nullptr);
  header.pszCaption = win::AppTitle().c_str();
  header.nPages = static_cast<UINT>(std::size(templates));
  header.nStartPage = 0;
  header.ppsp = pages;
  PropertySheetA(&header);
  // Only the pages' own round of saves tells: a modal sheet returns 0 ("no changes were saved")
  // when no page ever marked itself changed, even after every page has written its keys.
  return sheet.saved;
}

}  // namespace dozerin
