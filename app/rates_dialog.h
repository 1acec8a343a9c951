#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <memory>
#include <string>

#include "converter.h"
#include "dialog.h"
#include "flag_combo_box.h"
#include "handle.h"
#include "local_clock.h"
#include "number_edit.h"
#include "rates_client.h"
#include "refresh_cycle.h"
#include "settings_store.h"
#include "shared_rates.h"
#include "skin_bitmap.h"
#include "skin_button.h"
#include "snapshot.h"
#include "tray_icon.h"
#include "worker_threads.h"

// A refresh has downloaded a newer library: the window ends with result 3.
inline constexpr UINT WM_UPDATE_READY = 0x8001;
// A refresh worker hands the stamp of the stored snapshot to the window's thread (lParam: a
// SystemTime*), which shows it.
inline constexpr UINT WM_LAST_UPDATED = WM_APP + 2;  // WM_APP + 1 is WM_UPDATE_READY
inline constexpr UINT_PTR UPDATE_TIMER_ID = 1;
inline constexpr UINT UPDATE_PERIOD_MS = 600000;
inline constexpr INT_PTR UPDATE_READY_RESULT = 3;

// The program's only window: the rates board (flags, labels, eighteen rate boxes), the converter,
// the "Last Updated" line and the two buttons, on a borderless round-cornered 400 x 400 face.
class RatesDialog : public Dialog {
 public:
  // `client`: where the service is, which version this library is, and the library's own file,
  // beside which a downloaded update is written.
  RatesDialog(SettingsStore& settings, ClientConfig client);

  // Starts one refresh worker (at start, on the timer and on "&Update Now"); a start while a
  // refresh runs is dropped by the worker.
  void StartRefresh();

 protected:
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool PreTranslateMessage(MSG& message) override;

 private:
  BOOL OnInitDialog();
  void CreateRateBoxes();
  void LoadSnapshot();
  void CreateTooltip();
  void OnPaint();
  void OnCommand(int id, int code);
  void OnLButtonDown(POINT point);
  void OnMouseMove(POINT point);
  void OnLButtonUp();
  HBRUSH OnCtlColor(HDC dc, HWND control);
  void OnDestroy();
  // Ends the dialog once every worker thread has stopped; the library is unloaded right after.
  void StopWorkersAndEnd(INT_PTR result);
  void StartTray();
  void OnLastUpdated(const SystemTime& time);

  // What a refresh worker changes in the window, always through messages to its thread.
  class WorkerView final : public RefreshView {
   public:
    explicit WorkerView(RatesDialog& dialog) : m_dialog(dialog) {}
    void ShowRates(const RateTable& rates) override;
    void ShowLastUpdated(const SystemTime& time) override;
    void UpdateReady() override;

   private:
    RatesDialog& m_dialog;
  };

  SettingsStore& m_settings;
  HICON m_hIcon;
  SkinBitmap m_flagStrip;
  SkinBitmap m_background;
  SkinButton m_exitButton;
  SkinButton m_updateButton;
  std::array<HWND, RATE_COUNT> m_rateBoxes{};
  bool m_bVisible = true;
  bool m_bDragging = false;
  BrushHandle m_controlBrush;
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

  std::atomic<bool> m_busy{false};  // the refresh busy flag
  std::unique_ptr<SocketApi> m_sockets = MakePlatformSockets();
  RatesClient m_client;
  SystemLocalClock m_clock;
  WorkerView m_workerView{*this};
  bool m_stopping = false;  // no worker starts once the window has begun to end
  WorkerThreads m_workers;  // last: its destruction joins whatever still runs
};
