// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/SettingsStore.h"
#include "transfer/SessionHost.h"

#include <QDialog>
#include <QHash>
#include <QIcon>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenuBar;
class QPushButton;
class QRadioButton;
class QAbstractButton;
class CPercentBar;
class DialogFeed;
class DialogJournal;
class DialogProtocol;
class FileListView;
class LibraryTranslations;

namespace tapeway {
class SerialPort;
class TransferSession;
} // namespace tapeway

// The main window: link settings, the direction, the file list or the receive
// path, the progress bar and Start / Cancel / Exit. It holds the transfer
// session and is the session's host.
class CTransferDlg : public QDialog, public tapeway::SessionHost
{
    Q_OBJECT
public:
    // Control ids.
    enum : int
    {
        kStart = 1,
        kPortBox = 1001,
        kBaudBox = 1002,
        kDataBitsBox = 1003,
        kParityBox = 1004,
        kStopBitsBox = 1005,
        kReceiveRadio = 1006,
        kSendRadio = 1007,
        kBrowse = 1008,
        kProgress = 1010,
        kPathBox = 1014,
        kLinkGroup = 1016,
        kTypeGroup = 1017,
        kPortLabel = 1018,
        kBaudLabel = 1019,
        kDataBitsLabel = 1020,
        kParityLabel = 1021,
        kStopBitsLabel = 1022,
        kCancel = 1027,
        kExit = 1028,
        kAnnouncedBaud = 1032,
        kFileList = 1035,
        kContinuous = 1036,
        kSpareLabel = 1037,
    };
    // Menu commands.
    enum : int
    {
        kCmdChinese = 32776,
        kCmdEnglish = 32777,
        kCmdHistory = 32778,
        kCmdPacket = 32779,
        kCmdTapeWindow = 32780,
        kCmdFeedStart = 32781,
        kCmdTapeProfile = 32800, // the first profile of the Protocol menu; the others follow
        kCmdAbout = 65535
    };

    explicit CTransferDlg(QWidget* parent = nullptr);
    ~CTransferDlg() override;

    // A control by its id; nullptr for an unknown id.
    QWidget* GetDlgItem(int id) const;
    template <typename T> T* Item(int id) const { return qobject_cast<T*>(GetDlgItem(id)); }
    // A menu command of the Chinese (0) or English (1) menu.
    QAction* MenuCommand(int language, int id) const;
    QMenuBar* CurrentMenu() const;

    tapeway::TransferSession& Session() { return *m_session; }
    tapeway::SerialPort& Port() { return *m_port; }
    int Language() const { return m_language; }
    FileListView* FileList() const;
    CPercentBar* ProgressBar() const;

    // The settings file operations.
    int ReadSettingInt(const QString& section, const QString& key, int defaultValue) const;
    QString ReadSettingString(const QString& section, const QString& key,
                              const QString& defaultValue) const;
    void WriteSettingString(const QString& section, const QString& key, const QString& value);
    int ReadSettingValue(const QString& section, int defaultValue) const;
    void WriteSettingValue(const QString& section, const QString& value);

    // Handlers.
    void StartTransfer();
    void CancelTransfer();
    void OnComm();
    void OnReceiveMode();
    void OnSendMode();
    void OnExit();
    void OnBrowse();
    void OnPortChanged();
    void OnBaudChanged();
    void OnLanguageChinese();
    void OnLanguageEnglish();
    void OnAbout();
    void OnTapeProfileWindow();
    void OnFeedStartWindow();
    void ApplyCaptions(int language);
    void LoadPathHistory();
    void FillPortList();
    int SelectedPortNumber() const;
    QString LocalText(int chineseId, int englishId) const override;

    // tapeway::SessionHost
    bool IsReceiveMode() const override;
    bool IsContinuousChecked() const override;
    QString BaudText() const override;
    tapeway::LinkSettings Link() const override;
    std::optional<tapeway::TapeProfile> TapeLine() const override;
    QString ReceiveTargetText() const override;
    void SetReceiveTargetText(const QString& path) override;
    void RememberPath(const QString& path) override;
    void ShowMessage(int chineseId, int englishId, const QString& detail = {}) override;
    bool AskOverwrite(const QString& path) override;
    void EnableControls(bool enable) override;
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPos(int pos) override;
    void ShowArrived(qint64 lines, qint64 bytes) override;
    void ShowAnnouncedBaud(int baud) override;
    QString NextCheckedFile(int& rowCursor) override;
    void ClearStateColumn() override;
    void SetRowState(int row, const QString& text) override;
    void EnsureRowVisible(int row) override;
    void RepaintList() override;
    void FileFinished(const tapeway::FileReport& report) override;
    std::optional<tapeway::FeedRestart> FeedRestartFor(const QString& path) const override;
    void ShowFeedStatus(const tapeway::FeedStatus& status) override;
    DialogJournal& Journal() { return *m_journal; }
    DialogFeed& Feed() { return *m_feed; }
    DialogProtocol& Protocol() { return *m_protocol; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void BindMessages();
    void OnInitDialog();
    void CreateMenus();
    void ApplyLayout();
    void ApplyColumnTitles(int language);
    void ApplyAccessibleTexts(int language);
    void ShowPathEnd();
    bool InstallSerialControl();
    void Place(QWidget* widget, int id, int x, int y, int w, int h);
    // The line's protocol (CTransferDlgProtocol.cpp): the link boxes of the
    // packet protocol or of the chosen tape profile, and a tape receive's
    // progress caption.
    void FillLineBoxes();
    void ApplyProtocol();
    void ApplyTapeAccessibleTexts(int language);
    void OnLineBoxChanged();
    QString TapeFrameText() const;
    bool CheckTapeBoxes();
    void ShowArrivedCaption();
    void ShowProfileProblems();
    // Where a tape send starts (CTransferDlgFeed.cpp): the Start-at window,
    // the choice armed at Start, and the feed's status on the bar.
    bool ArmFeed();
    void ShowFeedCaption();
    void OnSendingChanged();

    QHash<int, QWidget*> m_controls;
    QMenuBar* m_menus[2] = {nullptr, nullptr};
    QHash<int, QAction*> m_commands[2];
    QFont m_dialogFont;
    QIcon m_icon;
    int m_language = 0;
    bool m_escaping = false;
    bool m_captionsApplied = false;
    tapeway::SettingsStore m_settings;
    tapeway::SerialPort* m_port = nullptr;
    std::unique_ptr<tapeway::TransferSession> m_session;
    DialogJournal* m_journal = nullptr;
    DialogProtocol* m_protocol = nullptr;
    bool m_arrivedShown = false; // the bar counts what a tape receive has brought
    qint64 m_arrivedLines = 0;
    qint64 m_arrivedBytes = 0;
    std::unique_ptr<LibraryTranslations> m_qtTexts;
    std::unique_ptr<DialogFeed> m_feed;
    std::optional<tapeway::FeedStatus> m_feedStatus; // a tape send's, while it runs
};
