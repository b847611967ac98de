// "Rip disk as album": the checked tracks, each limited to the range set
// with the from/to edits, their spin buttons and sliders, go into one file
// through the album job, which this dialog fronts. Format, tag and naming
// of the album are set here; Start becomes Stop while the rip runs.
#pragma once

#include <QDialog>
#include <QTimer>

#include <memory>

#include "jobs/AlbumJob.h"

class CData;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QSpinBox;
class QTreeWidget;
class QTreeWidgetItem;

namespace qm::ui {

class CRipAlbumDlg : public QDialog, public CAlbumView {
    Q_OBJECT

public:
    static constexpr const char* kFileFilter =
        "All supported formats|*.mp3;*.wav;*.wma;*.ogg;*.ape;*.flac|MP3 files (*.mp3)|*.mp3|WAV "
        "file (*.wav)|*.wav|WMA files (*.wma)|*.wma|OGG files (*.ogg)|*.ogg|MonkeysAudio files "
        "(*.ape)|*.ape|FLAC files (*.flac)|*.flac||";
    // The combo's formats, in the order it lists them.
    static constexpr OutputFormat kFormats[6] = {OutputFormat::WMA, OutputFormat::OGG,
                                                 OutputFormat::MP3, OutputFormat::WAV,
                                                 OutputFormat::APE, OutputFormat::FLAC};

    CRipAlbumDlg(CData& shared, const InfoBarValues& infoBar, QWidget* parent = nullptr);
    ~CRipAlbumDlg() override;

    // False when there is no disc: the dialog is not to be shown.
    bool OnInitDialog();
    CAlbumJob& Job() { return *m_job; }

    // The parts tests reach.
    QTreeWidget* List() const { return m_list; }
    QLineEdit* FromEdit() const { return m_from; }
    QLineEdit* ToEdit() const { return m_to; }
    QSlider* FromSlider() const { return m_fromSlider; }
    QSlider* ToSlider() const { return m_toSlider; }
    QLineEdit* FileEdit() const { return m_file; }
    QPushButton* StartButton() const { return m_start; }
    QProgressBar* RowProgressBar() const { return m_rowProgress; }
    QComboBox* FormatCombo() const { return m_format; }
    QLabel* FormatDescription() const { return m_description; }
    QCheckBox* SilenceCheck() const { return m_silence; }
    QLineEdit* SilenceEdit() const { return m_silenceLength; }
    // The list's filter text as the file dialog takes it.
    static QString FileDialogFilter();

    void OnStart();
    void OnSelectAll();
    void OnUnselectAll();
    void OnInvertSelection();
    void OnGenerateName();
    void OnSetFormat();
    void OnSetID3Tag();
    void OnSetNaming();
    void OnBrowseFolder();
    void OnBrowseFile();

    // CAlbumView.
    void SetRowChecked(int row, bool checked) override;
    void ShowRowProgress(int row) override;
    void SetRowProgress(int percent) override;
    void EnableControls(bool enable) override;
    PromptAnswer Ask(CWarningPrompt& prompt) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    void ShowError(const std::string& text, const std::string& caption) override;
    void StartPollTimer() override;
    void StopPollTimer() override;

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void DisplayTracksInfo();
    void UpdateTrackInfo();
    void UpdateSliderSelection();
    void OnChangeFrom();
    void OnChangeTo();
    void OnDeltaposFromSpin(int delta);
    void OnDeltaposToSpin(int delta);
    void OnHScroll();
    void OnItemChanged(QTreeWidgetItem* item, int column);
    void OnSelChangeFormat(int index);
    void SyncFormat();
    // The selected row (-1: none).
    int SelectedRow() const;
    // Takes a new range for the selected row when the job accepts it.
    bool TakeRange(double from, double to);
    void ShowRange(int row);

    CData& m_data;
    InfoBarValues m_infoBar;
    std::unique_ptr<CAlbumJob> m_job;
    QTimer m_pollTimer;
    bool m_filling = false;

    QTreeWidget* m_list = nullptr;
    QLineEdit* m_from = nullptr;
    QLineEdit* m_to = nullptr;
    QSpinBox* m_fromSpin = nullptr;
    QSpinBox* m_toSpin = nullptr;
    QSlider* m_fromSlider = nullptr;
    QSlider* m_toSlider = nullptr;
    QComboBox* m_format = nullptr;
    QLabel* m_description = nullptr;
    QLineEdit* m_file = nullptr;
    QCheckBox* m_silence = nullptr;
    QLineEdit* m_silenceLength = nullptr;
    QPushButton* m_start = nullptr;
    QProgressBar* m_rowProgress = nullptr;
    int m_progressRow = -1;
    std::vector<QWidget*> m_idleOnly;
};

} // namespace qm::ui
