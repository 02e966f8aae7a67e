#pragma once
// TForm1: the main window and scan controller: starts a scan by itself, on the scan button and on
// port arrival or removal (one more scan after a running one that a port change came during);
// collects the ports discovery reports, probes the free untyped ones for
// an echoing line adapter, and shows one row per port. Each row's record goes into the scan's
// model, which the row area draws and the report copied to the clipboard is made of.

#include <QWidget>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/ScanModel.h"
#include "platform/Additions.h"

class QDialog;
class QLabel;
class QTimer;
class QToolButton;
class TAction;
class TFrame2;
class TNativeWindowLink;
class TPortList;
class TSpComm;
class TSpCustomComm;

class TForm1 : public QWidget, public win::MessageTarget {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 544;
  static constexpr int kClientHeight = 180;

  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  win::HWND Handle() const { return Handle_; }
  win::LRESULT WindowProc(win::UINT message, win::WPARAM wParam, win::LPARAM lParam) override;
  void PostToQueue(win::UINT message, win::WPARAM wParam, win::LPARAM lParam) override;

  // The About window that AAbout shows modally; not owned.
  void SetAboutForm(QDialog* form) { AboutForm_ = form; }

  TAction& ACheck() const { return *ACheck_; }
  TAction& AAbout() const { return *AAbout_; }
  TAction& QMCheckFromList() const { return *QMCheckFromList_; }
  // Puts the report of the rows shown, as talvik-scan prints it, on the clipboard (Ctrl+C and
  // the context menu).
  TAction& ACopyReport() const { return *ACopyReport_; }
  QWidget& Toolbar1() const { return *Toolbar1_; }
  QToolButton& CheckButton() const { return *CheckButton_; }
  QToolButton& AboutButton() const { return *AboutButton_; }
  QWidget& StatusBar2() const { return *StatusBar2_; }
  TFrame2& Frame21() const { return *Frame21_; }
  QLabel& GlyphStatus1() const { return *GlyphStatus1_; }
  QTimer& Timer1() const { return *Timer1_; }
  TSpComm& SpComm1() const { return *SpComm1_; }

  // The records of the rows shown, in their order.
  const std::vector<PortRecord>& Records() const { return Records_; }
  // The ports of the current scan; null before the first scan.
  const TPortList* PortList() const { return PortList_.get(); }
  std::int32_t ProbeIndex() const { return ProbeIndex_; }
  std::int32_t ProbePhase() const { return ProbePhase_; }
  bool Scanning() const;
  // The discovery of the last scan failed (the ports found until then were still shown).
  bool DiscoveryFailed() const { return DiscoveryFailed_; }
  // A port arrived or went while the scan ran: one more scan starts when it has finished.
  bool RescanDue() const { return RescanDue_; }

 Q_SIGNALS:
  // FinishScan has run: the status line says the scan has finished. When RescanDue(), the
  // next scan has been asked for.
  void ScanFinished();

 protected:
  bool event(QEvent* event) override;
  bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void CreateToolbar();
  void CreateHeaderStrip();
  void CreateStatusLine();
  void CreateSerialComponent();

  // Scan cycle
  void FormCreate();
  void WMStartScan();
  void ACheckExecute();
  void WMPortFound(win::LPARAM lParam);
  void WMPortsEnumerated();
  void FinishScan();
  void WMDeviceChange(win::WPARAM wParam, win::LPARAM lParam);
  void AAboutExecute();
  void ButtonEdit1ButtonClick(QWidget* sender);
  void ACopyReportExecute();
  // Completes the port's record with what the device world knows of it now, and shows its row.
  void ShowPort(const TAPort& port);

  // Echo probe
  void QMCheckFromListExecute();
  void ProbeNextPort();
  void StartProbeDtrLow();
  void StartProbeDtrHigh();
  void Timer1Timer();
  void SpComm1RxChar(TSpCustomComm& sender, std::int32_t count);
  void WMProbeResult(win::WPARAM wParam, win::LPARAM lParam);
  void StoreProbeResult(std::int32_t value);
  void BeginPhase();
  // Posts the outcome of phase number `phase`, unless that phase is no longer current or has
  // its outcome already.
  void EndPhase(win::WPARAM result, win::LPARAM phase);
  // Sets DTR, clears the input and writes the probe message; false when a step failed (shown).
  bool SendProbe(bool dtr);
  // A probe step of the port being probed failed: its record keeps the message, and the error is
  // shown.
  void ProbeFailed(const std::exception_ptr& failure);

  win::HWND Handle_ = nullptr;
  TAction* ACheck_;
  TAction* AAbout_;
  TAction* QMCheckFromList_;
  TAction* ACopyReport_;
  QWidget* Toolbar1_ = nullptr;
  QToolButton* CheckButton_ = nullptr;
  QToolButton* AboutButton_ = nullptr;
  QWidget* StatusBar2_ = nullptr;
  TFrame2* Frame21_ = nullptr;
  QLabel* GlyphStatus1_ = nullptr;
  QTimer* Timer1_ = nullptr;
  std::unique_ptr<TSpComm> SpComm1_;
  std::unique_ptr<TNativeWindowLink> NativeWindow_;
  QDialog* AboutForm_ = nullptr;

  std::unique_ptr<TPortList> PortList_;
  std::vector<PortRecord> Records_;
  std::string ProbeError_;
  std::int32_t ProbeIndex_ = 0;
  std::int32_t ProbePhase_ = 0;
  // Each started phase gets a new number, carried in lParam of its WM_PROBE_RESULT, so that
  // only the outcome of the phase in progress is applied, and only once.
  win::LPARAM PhaseNumber_ = 0;
  bool ProbeWaiting_ = false;
  bool PhaseEnded_ = false;
  bool DiscoveryFailed_ = false;
  bool RescanDue_ = false;
};
