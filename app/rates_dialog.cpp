#include "rates_dialog.h"

#include <commctrl.h>
#include <windowsx.h>

#include <string>

#include "currency.h"
#include "display_format.h"
#include "module.h"
#include "png_resource.h"
#include "rates_board.h"
#include "rates_snapshot.h"
#include "resource.h"

namespace {

constexpr int WINDOW_SIZE = 400;
constexpr int CORNER_ELLIPSE = 78;
constexpr COLORREF AMOUNT_BOX_COLOR = RGB(175, 211, 237);
constexpr char TOOLTIP_TEXT[] = "Click here to change curency...";

POINT PointFrom(LPARAM lParam) { return {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}; }

}  // namespace

namespace {

ClientConfig ClientConfigFor(std::string libraryPath) {
  ClientConfig config;
  config.libraryPath = std::move(libraryPath);
  return config;
}

}  // namespace

RatesDialog::RatesDialog(SettingsStore& settings, std::string libraryPath)
    : Dialog(IDD_MAIN),
      m_settings(settings),
      m_hIcon(LoadModuleIcon(IDI_MAIN)),
      m_client(*m_sockets, ClientConfigFor(std::move(libraryPath))) {}

void RatesDialog::StartRefresh() {
  if (m_stopping) return;
  m_workers.Start([this] { RunRefresh({m_busy, m_client, m_rates, m_settings, m_clock, m_workerView}); });
}

void RatesDialog::StartTray() {
  // The shell may take its time over the icon and the balloon; the window does not wait for it.
  m_workers.Start([window = m_hWnd, icon = m_hTrayIcon] {
    ShowTrayIcon(window, icon, true);
    ShowTrayBalloon(window, "");
  });
}

void RatesDialog::WorkerView::ShowRates(const RateTable& rates) {
  // From the worker, SetWindowText sends WM_SETTEXT to the window's thread and waits for it.
  for (int i = 0; i < RATE_COUNT; ++i) SetWindowTextA(m_dialog.m_rateBoxes[i], FormatRate(rates[i]).c_str());
}

void RatesDialog::WorkerView::ShowLastUpdated(const SystemTime& time) {
  SendMessageA(m_dialog.m_hWnd, WM_LAST_UPDATED, 0, reinterpret_cast<LPARAM>(&time));
}

void RatesDialog::WorkerView::UpdateReady() { PostMessageA(m_dialog.m_hWnd, WM_UPDATE_READY, 0, 0); }

void RatesDialog::OnLastUpdated(const SystemTime& time) {
  m_lastUpdate = time;
  SetDlgItemTextA(m_hWnd, IDC_LAST_UPDATED, FormatLastUpdated(time).c_str());
}

std::optional<LRESULT> RatesDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_ERASEBKGND:
      return TRUE;  // the painting covers the whole client area
    case WM_QUERYDRAGICON:
      return reinterpret_cast<LRESULT>(m_hIcon);
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_LBUTTONDOWN:
      OnLButtonDown(PointFrom(lParam));
      return std::nullopt;
    case WM_MOUSEMOVE:
      OnMouseMove(PointFrom(lParam));
      return std::nullopt;
    case WM_LBUTTONUP:
      OnLButtonUp();
      return std::nullopt;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<LRESULT>(OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_TIMER:
      if (wParam == UPDATE_TIMER_ID) StartRefresh();
      return std::nullopt;
    case WM_UPDATE_READY:
      StopWorkersAndEnd(UPDATE_READY_RESULT);
      return 0;
    case WM_LAST_UPDATED:
      OnLastUpdated(*reinterpret_cast<const SystemTime*>(lParam));
      return 0;
    case WM_TRAYNOTIFY:
      m_bVisible = OnTrayNotify(m_hWnd, lParam, m_bVisible);
      return 1;
    case WM_DESTROY:
      OnDestroy();
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

bool RatesDialog::PreTranslateMessage(MSG& message) {
  if (m_tooltip) SendMessageA(m_tooltip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&message));
  return Dialog::PreTranslateMessage(message);
}

BOOL RatesDialog::OnInitDialog() {
  // "E&xit" first, "&Update Now" second: each binding raises its button to the top of the
  // sibling order, which is the Tab order.
  m_exitButton.Bind(m_hWnd, IDCANCEL);
  m_updateButton.Bind(m_hWnd, IDC_UPDATE_NOW);
  m_fromCombo.Bind(m_hWnd, IDC_FROM_COMBO);
  m_fromEdit.Bind(m_hWnd, IDC_FROM_EDIT);
  m_toCombo.Bind(m_hWnd, IDC_TO_COMBO);
  m_toEdit.Bind(m_hWnd, IDC_TO_EDIT);

  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

  m_flagStrip.Attach(LoadModuleBitmap(IDB_FLAGS));
  m_background.Attach(LoadModulePngBitmap(IDB_BACKGROUND));
  for (FlagComboBox* combo : {&m_fromCombo, &m_toCombo}) {
    combo->m_pFlagStrip = &m_flagStrip;
    combo->m_pLabels = CurrencyCodes.data();
  }

  SetWindowTextA(m_hWnd, "Orvane");

  RECT workArea{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
  RegionHandle shape(CreateRoundRectRgn(0, 0, WINDOW_SIZE, WINDOW_SIZE, CORNER_ELLIPSE, CORNER_ELLIPSE));
  if (shape && SetWindowRgn(m_hWnd, shape.Get(), TRUE)) shape.Release();  // the window owns it now
  // The work area's own left and top are not added: the window centres on the work area's size.
  SetWindowPos(m_hWnd, nullptr, (workArea.right - workArea.left - WINDOW_SIZE) / 2,
               (workArea.bottom - workArea.top - WINDOW_SIZE) / 2, WINDOW_SIZE, WINDOW_SIZE, SWP_SHOWWINDOW);

  CreateRateBoxes();
  m_converter.FillLists();
  LoadSnapshot();
  m_converter.Begin();

  m_hTrayIcon = LoadModuleIcon(IDI_TRAY, 16);
  StartTray();
  StartRefresh();
  SetTimer(m_hWnd, UPDATE_TIMER_ID, UPDATE_PERIOD_MS, nullptr);
  CreateTooltip();
  return TRUE;
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
  }
}

void RatesDialog::LoadSnapshot() {
  RatesSnapshot snapshot;
  if (!LoadRatesSnapshot(m_settings, snapshot)) return;  // the boxes keep "0", the line stays empty
  m_rates.Store(snapshot.rates);
  m_lastUpdate = snapshot.lastUpdate;
  for (int i = 0; i < RATE_COUNT; ++i) SetWindowTextA(m_rateBoxes[i], FormatRate(snapshot.rates[i]).c_str());
  SetDlgItemTextA(m_hWnd, IDC_LAST_UPDATED, FormatLastUpdated(snapshot.lastUpdate).c_str());
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
  SendMessageA(m_tooltip, TTM_SETDELAYTIME, TTDT_AUTOMATIC, 0);
  SendMessageA(m_tooltip, TTM_ACTIVATE, TRUE, 0);
}

void RatesDialog::OnPaint() {
  PaintDC paint = BeginPaintDC(m_hWnd);
  HDC dc = paint.Get();
  if (IsIconic(m_hWnd)) {
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(m_hWnd, &client);
    DrawIcon(dc, (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2,
             (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2, m_hIcon);
    return;
  }
  PaintBoard(dc, m_background, m_flagStrip, reinterpret_cast<HFONT>(SendMessageA(m_hWnd, WM_GETFONT, 0, 0)));
}

void RatesDialog::OnCommand(int id, int code) {
  switch (id) {
    case IDOK:      // Enter: treated as exit by the caller
    case IDCANCEL:  // "E&xit", Escape, closing
      StopWorkersAndEnd(id);
      break;
    case IDC_UPDATE_NOW:
      if (code == BN_CLICKED) StartRefresh();
      break;
    case IDC_FROM_EDIT:
      if (code == EN_CHANGE) m_converter.OnEnChangeFromEdit();
      break;
    case IDC_TO_EDIT:
      if (code == EN_CHANGE) m_converter.OnEnChangeToEdit();
      break;
    case IDC_FROM_COMBO:
      if (code == CBN_SELENDOK) m_converter.OnCbnSelendokFromCombo();
      break;
    case IDC_TO_COMBO:
      if (code == CBN_SELENDOK) m_converter.OnCbnSelendokToCombo();
      break;
    default:
      break;
  }
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

void RatesDialog::OnLButtonUp() {
  ReleaseCapture();
  m_bDragging = false;
}

HBRUSH RatesDialog::OnCtlColor(HDC dc, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
  SetBkMode(dc, TRANSPARENT);
  const int id = GetDlgCtrlID(control);
  if (id == IDC_FROM_EDIT || id == IDC_TO_EDIT) {
    m_controlBrush.Reset(CreateSolidBrush(AMOUNT_BOX_COLOR));
    return m_controlBrush.Get();
  }

  // The rate boxes and the "Last Updated" line show the face through their background: a
  // pattern brush of the piece of the background that lies under the control.
  SetTextColor(dc, RGB(255, 255, 255));
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  BitmapHandle piece(CreateCompatibleBitmap(dc, width, height));
  {
    MemoryDC memory(CreateCompatibleDC(dc));
    Selection selected(memory.Get(), piece.Get());
    if (selected.Succeeded())
      m_background.Draw(memory.Get(), 0, 0, rect.left, rect.top, width, height, 255, KEY_COLOR, true);
  }
  m_controlBrush.Reset(CreatePatternBrush(piece.Get()));
  return m_controlBrush.Get();
}

void RatesDialog::StopWorkersAndEnd(INT_PTR result) {
  // Never killed: the client's abort ends any connect or receive at once, and the join keeps
  // dispatching what the workers send to this window until they have returned.
  m_stopping = true;
  m_client.Abort();
  m_workers.Join();
  EndDialog(result);
}

void RatesDialog::OnDestroy() {
  KillTimer(m_hWnd, UPDATE_TIMER_ID);
  ShowTrayIcon(m_hWnd, m_hTrayIcon, false);
  m_controlBrush.Reset();
  m_background.DeleteObject();
  m_flagStrip.DeleteObject();
}
