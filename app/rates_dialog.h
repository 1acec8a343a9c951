#pragma once

#include <windows.h>

#include <array>

#include "accessible_window.h"
#include "board_paint_cache.h"
#include "convert/converter.h"
#include "dialog.h"
#include "flag_combo_box.h"
#include "handle.h"
#include "number_edit.h"
#include "rates/rates_info.h"
#include "rates/shared_rates.h"
#include "rates/snapshot.h"
#include "refresh_worker.h"
#include "skin_bitmap.h"
#include "skin_button.h"
#include "store/settings_store.h"
#include "tray_icon.h"

inline constexpr UINT_PTR UPDATE_TIMER_ID = 1;
inline constexpr UINT UPDATE_PERIOD_MS = 600000;
// A refresh has downloaded a newer library: the window ends with this result.
inline constexpr INT_PTR UPDATE_READY_RESULT = 3;
// Process environment shared with the launcher, which reloads the library and so outlives its
// statics: the version of the update handed over ("1.2"), and the versions the launcher could not
// put in place in this run, separated by ";" ("*": take none).
inline constexpr wchar_t UPDATE_VERSION_VARIABLE[] = L"OrvaneUpdateVersion";
inline constexpr wchar_t REFUSED_UPDATES_VARIABLE[] = L"OrvaneRefusedUpdates";

// The program's only window: the rates board (flags, labels, eighteen rate boxes), the converter,
// the "Last Updated" line and the two buttons, on a borderless round-cornered 400 x 400 face.
class RatesDialog : public Dialog {
 public:
  // `client`: where the service is, which version this library is, and the library's own file,
  // beside which a downloaded update is written.
  RatesDialog(SettingsStore& settings, ClientConfig client);

 protected:
  BOOL OnInitDialog() override;
  bool OnPaint() override;
  void OnCommand(int id, int code, HWND control) override;
  void OnTimer(UINT_PTR id) override;
  void OnLButtonDown(POINT point) override;
  void OnMouseMove(POINT point) override;
  void OnLButtonUp(POINT point) override;
  HBRUSH OnCtlColor(HDC dc, HWND control) override;
  void OnDestroy() override;
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool PreTranslateMessage(MSG& message) override;

 private:
  void BindControls();
  void CreateRateBoxes();
  void LoadSnapshot();
  void CreateTooltip();
  void NameControls();
  // Tells screen readers of a list whose selection changed, and of the amount box it names.
  void AnnounceSelections();
  void StartTray();
  // The two things a refresh shows, also used for the stored snapshot at start.
  void ShowRates(const RateTable& rates);
  void ShowLastUpdated(const SystemTime& time);
  // The date and source of the rates shown: the line's tip and the tray icon's.
  void ShowRatesInfo(const RatesInfo& info);
  void UpdateLineTip();
  void AddLineTip();
  // Ends the dialog once every worker thread has stopped; the library is unloaded right after.
  void StopWorkersAndEnd(INT_PTR result);
  void OnUpdateReady();

  SettingsStore& m_settings;
  HICON m_hIcon;
  SkinBitmap m_flagStrip;
  SkinBitmap m_background;
  SkinBitmap m_buttonSkin;
  SkinButton m_exitButton;
  SkinButton m_updateButton;
  std::array<HWND, RATE_COUNT> m_rateBoxes{};
  std::array<AccessibleWindow, RATE_COUNT> m_rateBoxReaders;
  bool m_bVisible = true;
  bool m_bDragging = false;
  BoardPicture m_boardPicture;
  FaceBrushes m_faceBrushes;  // of the rate boxes and the "Last Updated" line
  BrushHandle m_amountBrush;
  int m_dragOffsetX = 0;
  int m_dragOffsetY = 0;
  HICON m_hTrayIcon = nullptr;
  SharedRates m_rates;
  FlagComboBox m_fromCombo;
  FlagComboBox m_toCombo;
  NumberEdit m_fromEdit;
  NumberEdit m_toEdit;
  Converter m_converter{m_fromCombo.Items(), m_fromEdit.Amount(), m_toCombo.Items(), m_toEdit.Amount(), m_rates};
  HWND m_tooltip = nullptr;
  std::optional<RatesInfo> m_ratesInfo;  // of the rates shown; none when unknown
  SystemLocalClock m_clock;              // today, for the tips that say how old the rates are
  RefreshWorker m_refresh;               // last: its destruction joins whatever still runs
};
