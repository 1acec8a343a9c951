#include "rates_dialog.h"

#include <commctrl.h>

#include <string>

#include "board_geometry.h"
#include "module.h"
#include "png_resource.h"
#include "rates/currency.h"
#include "rates/display_format.h"
#include "rates/snapshot.h"
#include "rates_board.h"
#include "resource.h"
#include "skin_palette.h"
#include "update/update_check.h"

namespace {

constexpr char TOOLTIP_TEXT[] = "Click here to change curency...";
// Asks the window, on its own thread, to give the tray icon its tip once the icon exists.
constexpr UINT WM_TRAY_READY = WM_APP + 21;

}  // namespace

RatesDialog::RatesDialog(SettingsStore& settings, ClientConfig client)
    : Dialog(IDD_MAIN),
      m_settings(settings),
      m_hIcon(LoadModuleIcon(IDI_MAIN)),
      m_refresh(settings, m_rates, std::move(client)) {}

void RatesDialog::StartTray() {
  // The shell may take its time over the icon and the balloon; the window does not wait for it.
  m_refresh.StartJob([window = m_hWnd, icon = m_hTrayIcon] {
    ShowTrayIcon(window, icon, true);
    ShowTrayBalloon(window, "");
    // The tip is set on the window's thread, in order with those that refreshes bring.
    PostMessageA(window, WM_TRAY_READY, 0, 0);
  });
}

void RatesDialog::ShowRates(const RateTable& rates) {
  for (int i = 0; i < RATE_COUNT; ++i) {
    const std::string text = FormatRate(rates[i]);
    char shown[32] = {};
    GetWindowTextA(m_rateBoxes[i], shown, sizeof shown);
    SetWindowTextA(m_rateBoxes[i], text.c_str());
    if (text != shown) m_rateBoxReaders[i].AnnounceValueChange();
  }
}

void RatesDialog::ShowLastUpdated(const SystemTime& time) {
  SetDlgItemTextA(m_hWnd, IDC_LAST_UPDATED, FormatLastUpdated(time).c_str());
}

void RatesDialog::ShowRatesInfo(const RatesInfo& info) {
  m_ratesInfo = info;
  UpdateLineTip();
  ShowTrayTip(m_hWnd, TrayRatesTip(info, m_clock.Now()).c_str());
}

void RatesDialog::UpdateLineTip() {
  if (!m_tooltip) return;
  const std::string text = RatesLineTip(m_ratesInfo, m_clock.Now());
  TOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = m_hWnd;
  tool.uId = IDC_LAST_UPDATED;
  tool.lpszText = const_cast<char*>(text.c_str());
  SendMessageA(m_tooltip, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

// The line is a static without SS_NOTIFY, so the mouse over it reaches the dialog: the tool is
// the line's rectangle of the dialog, and the relayed dialog messages show it.
void RatesDialog::AddLineTip() {
  HWND line = GetDlgItem(m_hWnd, IDC_LAST_UPDATED);
  if (!line) return;
  const std::string text = RatesLineTip(m_ratesInfo, m_clock.Now());
  TOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.uFlags = 0;
  tool.hwnd = m_hWnd;
  tool.uId = IDC_LAST_UPDATED;
  GetWindowRect(line, &tool.rect);
  MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&tool.rect), 2);
  tool.lpszText = const_cast<char*>(text.c_str());
  SendMessageA(m_tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

std::optional<LRESULT> RatesDialog::OnMessage(UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return TRUE;  // the painting covers the whole client area
    case WM_DISPLAYCHANGE:
      // Another colour depth: the kept board and brushes are of the old one.
      m_boardPicture.Forget();
      m_faceBrushes.Forget();
      return std::nullopt;
    case WM_SETTINGCHANGE:
      // Among the settings is the smoothing of the labels' text.
      m_boardPicture.Forget();
      return std::nullopt;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<LRESULT>(m_hIcon);
    case WM_UPDATE_READY:
      OnUpdateReady();
      return 0;
    case WM_SHOW_RATES:
      ShowRates(RatesOf(lParam));
      return 0;
    case WM_LAST_UPDATED:
      ShowLastUpdated(LastUpdatedOf(lParam));
      return 0;
    case WM_RATES_INFO:
      ShowRatesInfo(RatesInfoOf(lParam));
      return 0;
    case WM_TRAY_READY:
      if (m_ratesInfo) ShowTrayTip(m_hWnd, TrayRatesTip(*m_ratesInfo, m_clock.Now()).c_str());
      return 0;
    case WM_TRAYNOTIFY:
      m_bVisible = OnTrayNotify(m_hWnd, lParam, m_bVisible);
      return 1;
    default:
      return std::nullopt;
  }
}

bool RatesDialog::PreTranslateMessage(MSG& message) {
  if (m_tooltip) SendMessageA(m_tooltip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&message));
  return Dialog::PreTranslateMessage(message);
}

BOOL RatesDialog::OnInitDialog() {
  m_refresh.ReportTo(m_hWnd);
  BindControls();

  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

  m_flagStrip.Attach(LoadModuleBitmap(IDB_FLAGS));
  m_background.Attach(LoadModulePngBitmap(IDB_BACKGROUND));

  SetWindowTextA(m_hWnd, "Orvane");

  RECT workArea{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
  RegionHandle shape(CreateRoundRectRgn(0, 0, FACE_SIZE, FACE_SIZE, FACE_CORNER_ELLIPSE, FACE_CORNER_ELLIPSE));
  if (shape && SetWindowRgn(m_hWnd, shape.Get(), TRUE)) shape.Release();  // the window owns it now
  // The work area's own left and top are not added: the window centres on the work area's size.
  SetWindowPos(m_hWnd, nullptr, (workArea.right - workArea.left - FACE_SIZE) / 2,
               (workArea.bottom - workArea.top - FACE_SIZE) / 2, FACE_SIZE, FACE_SIZE, SWP_SHOWWINDOW);

  CreateRateBoxes();
  m_converter.FillLists();
  LoadSnapshot();
  m_converter.Begin();
  AnnounceSelections();

  m_hTrayIcon = LoadModuleIcon(IDI_TRAY, 16);
  StartTray();
  m_refresh.Start();
  SetTimer(m_hWnd, UPDATE_TIMER_ID, UPDATE_PERIOD_MS, nullptr);
  CreateTooltip();
  return TRUE;
}

void RatesDialog::BindControls() {
  // The pictures and the pointer are the module's; the controls borrow them.
  m_buttonSkin.Attach(LoadModuleBitmap(IDB_BUTTON));
  const HCURSOR hand = LoadModuleCursor(IDC_HANDCURSOR);
  for (SkinButton* button : {&m_exitButton, &m_updateButton}) {
    button->m_pSkin = &m_buttonSkin;
    button->UseCursor(hand);
  }
  for (FlagComboBox* combo : {&m_fromCombo, &m_toCombo}) {
    combo->m_pFlagStrip = &m_flagStrip;
    combo->m_pLabels = CurrencyCodes.data();
    combo->UseCursor(hand);
  }
  m_fromEdit.OnNotification(EN_CHANGE, [this] { m_converter.OnEnChangeFromEdit(); });
  m_toEdit.OnNotification(EN_CHANGE, [this] { m_converter.OnEnChangeToEdit(); });
  m_fromCombo.OnNotification(CBN_SELENDOK, [this] {
    m_converter.OnCbnSelendokFromCombo();
    AnnounceSelections();
  });
  m_toCombo.OnNotification(CBN_SELENDOK, [this] {
    m_converter.OnCbnSelendokToCombo();
    AnnounceSelections();
  });
  // The selection moves before the choice is made (arrow keys, the open list); a reader hears
  // every move.
  for (FlagComboBox* combo : {&m_fromCombo, &m_toCombo})
    combo->OnNotification(CBN_SELCHANGE, [this] { AnnounceSelections(); });
  NameControls();

  // "E&xit" first, "&Update Now" second: each binding raises its button to the top of the
  // sibling order, which is the Tab order.
  m_exitButton.Bind(m_hWnd, IDCANCEL);
  m_updateButton.Bind(m_hWnd, IDC_UPDATE_NOW);
  m_fromCombo.Bind(m_hWnd, IDC_FROM_COMBO);
  m_fromEdit.Bind(m_hWnd, IDC_FROM_EDIT);
  m_toCombo.Bind(m_hWnd, IDC_TO_COMBO);
  m_toEdit.Bind(m_hWnd, IDC_TO_EDIT);
}

void RatesDialog::NameControls() {
  // The flags and labels are painted on the face, so the texts come from here. The buttons keep
  // their captions and the "Last Updated" line its text.
  m_fromCombo.Accessible().SetName([] { return std::string("Convert from"); });
  m_toCombo.Accessible().SetName([] { return std::string("Convert to"); });
  m_fromEdit.Accessible().SetName([this] { return "Amount in " + m_fromCombo.SelectedLabel(); });
  m_toEdit.Accessible().SetName([this] { return "Amount in " + m_toCombo.SelectedLabel(); });
}

void RatesDialog::AnnounceSelections() {
  if (m_fromCombo.AnnounceSelection()) m_fromEdit.Accessible().AnnounceNameChange();
  if (m_toCombo.AnnounceSelection()) m_toEdit.Accessible().AnnounceNameChange();
}

void RatesDialog::CreateRateBoxes() {
  const auto font = static_cast<WPARAM>(SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
  for (int i = 0; i < RATE_COUNT; ++i) {
    const RECT rect = BoardLayout(i).rateBox;
    m_rateBoxes[i] =
        CreateWindowExA(0, "EDIT", "0", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_READONLY | ES_RIGHT, rect.left,
                        rect.top, rect.right - rect.left, rect.bottom - rect.top, m_hWnd,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_RATE_FIRST + i)), ModuleInstance(), nullptr);
    SendMessageA(m_rateBoxes[i], WM_SETFONT, font, TRUE);
    // Otherwise the system names every box after the static text before it, "Last Updated".
    m_rateBoxReaders[i].Attach(m_rateBoxes[i]);
    m_rateBoxReaders[i].SetName([i] { return RateBoxName(i); });
  }
}

void RatesDialog::LoadSnapshot() {
  RatesSnapshot snapshot;
  if (!LoadRatesSnapshot(m_settings, snapshot)) return;  // the boxes keep "0", the line stays empty
  m_rates.Store(snapshot.rates);
  ShowRates(snapshot.rates);
  ShowLastUpdated(snapshot.lastUpdate);
  // The date beside the snapshot describes its rates only where the rates come signed.
  if (!m_refresh.TakesSignedRates()) return;
  m_ratesInfo = LoadRatesInfo(m_settings);
  m_refresh.HoldRatesInfo(m_ratesInfo);
}

void RatesDialog::CreateTooltip() {
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&classes);
  m_tooltip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, m_hWnd, nullptr, ModuleInstance(), nullptr);
  if (!m_tooltip) return;
  for (const FlagComboBox* combo : {&m_fromCombo, &m_toCombo}) {
    TOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;  // understood by every version of the common controls
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = m_hWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(combo->Handle());
    tool.lpszText = const_cast<char*>(TOOLTIP_TEXT);
    SendMessageA(m_tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  }
  AddLineTip();
  SendMessageA(m_tooltip, TTM_SETDELAYTIME, TTDT_AUTOMATIC, 0);
  SendMessageA(m_tooltip, TTM_ACTIVATE, TRUE, 0);
}

bool RatesDialog::OnPaint() {
  PaintDC paint = BeginPaintDC(m_hWnd);
  HDC dc = paint.Get();
  if (IsIconic(m_hWnd)) {
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(m_hWnd, &client);
    DrawIcon(dc, (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2,
             (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2, m_hIcon);
    return true;
  }
  m_boardPicture.Paint(dc, m_background, m_flagStrip, reinterpret_cast<HFONT>(SendMessageA(m_hWnd, WM_GETFONT, 0, 0)));
  return true;
}

// The converter's notifications are reflected to the controls, which run their handlers.
void RatesDialog::OnCommand(int id, int code, HWND) {
  switch (id) {
    case IDOK:      // Enter: treated as exit by the caller
    case IDCANCEL:  // "E&xit", Escape, closing
      StopWorkersAndEnd(id);
      break;
    case IDC_UPDATE_NOW:
      if (code == BN_CLICKED) m_refresh.Start();
      break;
    default:
      break;
  }
}

void RatesDialog::OnTimer(UINT_PTR id) {
  if (id != UPDATE_TIMER_ID) return;
  UpdateLineTip();  // the rates grow older by the day, even when no refresh succeeds
  m_refresh.Start();
}

void RatesDialog::OnLButtonDown(POINT point) {
  SetCapture(m_hWnd);
  m_bDragging = true;
  RECT window;
  GetWindowRect(m_hWnd, &window);
  ClientToScreen(m_hWnd, &point);
  m_dragOffsetX = window.left - point.x;
  m_dragOffsetY = window.top - point.y;
}

void RatesDialog::OnMouseMove(POINT point) {
  if (!m_bDragging) return;
  ClientToScreen(m_hWnd, &point);
  SetWindowPos(m_hWnd, nullptr, point.x + m_dragOffsetX, point.y + m_dragOffsetY, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void RatesDialog::OnLButtonUp(POINT) {
  ReleaseCapture();
  m_bDragging = false;
}

HBRUSH RatesDialog::OnCtlColor(HDC dc, HWND control) {
  SetBkMode(dc, TRANSPARENT);
  const int id = GetDlgCtrlID(control);
  if (id == IDC_FROM_EDIT || id == IDC_TO_EDIT) {
    if (!m_amountBrush) m_amountBrush.Reset(CreateSolidBrush(SKIN_LIGHT_BLUE));
    return m_amountBrush.Get();
  }

  // The rate boxes and the "Last Updated" line show the face through their background: a
  // pattern brush of the piece of the face that lies under the control.
  SetTextColor(dc, RGB(255, 255, 255));
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
  return m_faceBrushes.For(dc, rect, m_background);
}

void RatesDialog::StopWorkersAndEnd(INT_PTR result) {
  // Never killed: the client's abort ends any connect or receive at once, and the join keeps
  // dispatching what the workers send to this window until they have returned.
  m_refresh.Stop();
  EndDialog(result);
}

void RatesDialog::OnUpdateReady() {
  // Any program on the desktop can post this message: only an update that this window's own
  // refresh verified and put in place ends it.
  const auto version = m_refresh.WaitingUpdate();
  if (!version) return;
  // The launcher learns which version it swaps in, to refuse it for the rest of the run if the
  // swap fails.
  const std::string text = FormatVersion(*version);
  SetEnvironmentVariableW(UPDATE_VERSION_VARIABLE, std::wstring(text.begin(), text.end()).c_str());
  StopWorkersAndEnd(UPDATE_READY_RESULT);
}

void RatesDialog::OnDestroy() {
  KillTimer(m_hWnd, UPDATE_TIMER_ID);
  ShowTrayIcon(m_hWnd, m_hTrayIcon, false);
  m_boardPicture.Forget();
  m_faceBrushes.Forget();
  m_amountBrush.Reset();
  m_background.DeleteObject();
  m_flagStrip.DeleteObject();
}
