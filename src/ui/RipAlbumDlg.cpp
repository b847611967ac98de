#include "ui/RipAlbumDlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/Text.h"
#include "core/Trace.h"
#include "jobs/TrackList.h"
#include "output/Naming.h"
#include "ui/TrackPropertiesSheet.h"
#include "ui/WarningDlg.h"

namespace qm::ui {

namespace {

QString Qt8(const std::string& text) {
    return QString::fromStdString(text);
}

// Sliders move in hundredths of a second.
constexpr int kSliderSteps = 100;

const char* FormatName(OutputFormat format) {
    switch (format) {
    case OutputFormat::WMA:
        return "WMA";
    case OutputFormat::OGG:
        return "OGG";
    case OutputFormat::MP3:
        return "MP3";
    case OutputFormat::WAV:
        return "WAV";
    case OutputFormat::APE:
        return "APE";
    case OutputFormat::FLAC:
        return "FLAC";
    }
    return "";
}

} // namespace

CRipAlbumDlg::CRipAlbumDlg(CData& shared, const InfoBarValues& infoBar, QWidget* parent)
    : QDialog(parent), m_data(shared), m_infoBar(infoBar),
      m_job(std::make_unique<CAlbumJob>(shared, *this)) {
    QM_TRACE("RipAlbumDlg");
    setObjectName(QStringLiteral("RipAlbumDlg"));
    setWindowTitle(QStringLiteral("Rip disk as album"));
    setModal(true);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("Tracks"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({QStringLiteral("Track name"), QStringLiteral("Time"),
                             QStringLiteral("Start"), QStringLiteral("End")});
    m_list->setColumnWidth(0, 190);
    for (int column = 1; column < 4; ++column) {
        m_list->setColumnWidth(column, 80);
    }
    m_rowProgress = new QProgressBar(m_list->viewport());
    m_rowProgress->setObjectName(QStringLiteral("RowProgress"));
    m_rowProgress->setRange(0, 100);
    m_rowProgress->hide();

    auto* selectAll = new QPushButton(QStringLiteral("Select all"), this);
    auto* unselectAll = new QPushButton(QStringLiteral("Unselect all"), this);
    auto* invert = new QPushButton(QStringLiteral("Invert selection"), this);
    selectAll->setObjectName(QStringLiteral("SelectAll"));
    unselectAll->setObjectName(QStringLiteral("UnselectAll"));
    invert->setObjectName(QStringLiteral("InvertSelection"));

    auto* range = new QGroupBox(QStringLiteral("Track range"), this);
    m_from = new QLineEdit(range);
    m_to = new QLineEdit(range);
    m_from->setObjectName(QStringLiteral("From"));
    m_to->setObjectName(QStringLiteral("To"));
    m_fromSpin = new QSpinBox(range);
    m_toSpin = new QSpinBox(range);
    for (QSpinBox* spin : {m_fromSpin, m_toSpin}) {
        // Only the arrows count: each step moves the time by a second.
        spin->setRange(-1, 1);
        spin->setValue(0);
        spin->setFixedWidth(spin->sizeHint().height());
        spin->setButtonSymbols(QSpinBox::UpDownArrows);
    }
    m_fromSpin->setObjectName(QStringLiteral("FromSpin"));
    m_toSpin->setObjectName(QStringLiteral("ToSpin"));
    m_fromSlider = new QSlider(Qt::Horizontal, range);
    m_toSlider = new QSlider(Qt::Horizontal, range);
    m_fromSlider->setObjectName(QStringLiteral("FromSlider"));
    m_toSlider->setObjectName(QStringLiteral("ToSlider"));
    auto* rangeLayout = new QGridLayout(range);
    rangeLayout->addWidget(new QLabel(QStringLiteral("From:"), range), 0, 0);
    rangeLayout->addWidget(m_from, 0, 1);
    rangeLayout->addWidget(m_fromSpin, 0, 2);
    rangeLayout->addWidget(m_fromSlider, 0, 3);
    rangeLayout->addWidget(new QLabel(QStringLiteral("To:"), range), 1, 0);
    rangeLayout->addWidget(m_to, 1, 1);
    rangeLayout->addWidget(m_toSpin, 1, 2);
    rangeLayout->addWidget(m_toSlider, 1, 3);
    rangeLayout->setColumnStretch(3, 1);

    auto* output = new QGroupBox(QStringLiteral("Output"), this);
    m_format = new QComboBox(output);
    m_format->setObjectName(QStringLiteral("Format"));
    for (const OutputFormat format : kFormats) {
        m_format->addItem(QString::fromLatin1(FormatName(format)), static_cast<int>(format));
    }
    m_description = new QLabel(output);
    m_description->setObjectName(QStringLiteral("FormatDescription"));
    auto* formatButton = new QPushButton(QStringLiteral("Format settings"), output);
    auto* tagButton = new QPushButton(QStringLiteral("Tag..."), output);
    auto* namingButton = new QPushButton(QStringLiteral("Naming..."), output);
    auto* generate = new QPushButton(QStringLiteral("Generate name"), output);
    auto* browseFolder = new QPushButton(QStringLiteral("Folder..."), output);
    auto* browseFile = new QPushButton(QStringLiteral("Browse..."), output);
    formatButton->setObjectName(QStringLiteral("FormatSettings"));
    tagButton->setObjectName(QStringLiteral("Tag"));
    namingButton->setObjectName(QStringLiteral("Naming"));
    generate->setObjectName(QStringLiteral("GenerateName"));
    browseFolder->setObjectName(QStringLiteral("BrowseFolder"));
    browseFile->setObjectName(QStringLiteral("BrowseFile"));
    m_file = new QLineEdit(output);
    m_file->setObjectName(QStringLiteral("File"));
    m_silence = new QCheckBox(QStringLiteral("Insert silence between tracks (seconds):"), output);
    m_silence->setObjectName(QStringLiteral("InsertSilence"));
    m_silenceLength = new QLineEdit(output);
    m_silenceLength->setObjectName(QStringLiteral("SilenceLength"));
    m_silenceLength->setMaximumWidth(60);
    auto* outputLayout = new QGridLayout(output);
    outputLayout->addWidget(new QLabel(QStringLiteral("Format:"), output), 0, 0);
    outputLayout->addWidget(m_format, 0, 1);
    outputLayout->addWidget(m_description, 0, 2, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(formatButton);
    buttons->addWidget(tagButton);
    buttons->addWidget(namingButton);
    buttons->addStretch(1);
    outputLayout->addLayout(buttons, 1, 0, 1, 4);
    outputLayout->addWidget(new QLabel(QStringLiteral("File:"), output), 2, 0);
    outputLayout->addWidget(m_file, 2, 1, 1, 3);
    auto* fileButtons = new QHBoxLayout;
    fileButtons->addWidget(generate);
    fileButtons->addWidget(browseFolder);
    fileButtons->addWidget(browseFile);
    fileButtons->addStretch(1);
    outputLayout->addLayout(fileButtons, 3, 0, 1, 4);
    auto* silenceRow = new QHBoxLayout;
    silenceRow->addWidget(m_silence);
    silenceRow->addWidget(m_silenceLength);
    silenceRow->addStretch(1);
    outputLayout->addLayout(silenceRow, 4, 0, 1, 4);

    m_start = new QPushButton(QStringLiteral("Start"), this);
    m_start->setObjectName(QStringLiteral("Start"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("Close"));

    auto* selection = new QHBoxLayout;
    selection->addWidget(selectAll);
    selection->addWidget(unselectAll);
    selection->addWidget(invert);
    selection->addStretch(1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(m_start);
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(selection);
    layout->addWidget(range);
    layout->addWidget(output);
    layout->addLayout(bottom);
    resize(620, 640);

    m_idleOnly = {m_list,       selectAll, unselectAll,     invert,   range,        m_format,
                  formatButton, tagButton, namingButton,    generate, browseFolder, browseFile,
                  m_file,       m_silence, m_silenceLength, close};

    connect(selectAll, &QPushButton::clicked, this, &CRipAlbumDlg::OnSelectAll);
    connect(unselectAll, &QPushButton::clicked, this, &CRipAlbumDlg::OnUnselectAll);
    connect(invert, &QPushButton::clicked, this, &CRipAlbumDlg::OnInvertSelection);
    connect(m_list, &QTreeWidget::itemChanged, this, &CRipAlbumDlg::OnItemChanged);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &CRipAlbumDlg::UpdateTrackInfo);
    connect(m_from, &QLineEdit::editingFinished, this, &CRipAlbumDlg::OnChangeFrom);
    connect(m_to, &QLineEdit::editingFinished, this, &CRipAlbumDlg::OnChangeTo);
    connect(m_fromSpin, &QSpinBox::valueChanged, this, [this](int value) {
        if (value != 0) {
            OnDeltaposFromSpin(value);
        }
    });
    connect(m_toSpin, &QSpinBox::valueChanged, this, [this](int value) {
        if (value != 0) {
            OnDeltaposToSpin(value);
        }
    });
    connect(m_fromSlider, &QSlider::valueChanged, this, &CRipAlbumDlg::OnHScroll);
    connect(m_toSlider, &QSlider::valueChanged, this, &CRipAlbumDlg::OnHScroll);
    connect(m_format, &QComboBox::currentIndexChanged, this, &CRipAlbumDlg::OnSelChangeFormat);
    connect(formatButton, &QPushButton::clicked, this, &CRipAlbumDlg::OnSetFormat);
    connect(tagButton, &QPushButton::clicked, this, &CRipAlbumDlg::OnSetID3Tag);
    connect(namingButton, &QPushButton::clicked, this, &CRipAlbumDlg::OnSetNaming);
    connect(generate, &QPushButton::clicked, this, &CRipAlbumDlg::OnGenerateName);
    connect(browseFolder, &QPushButton::clicked, this, &CRipAlbumDlg::OnBrowseFolder);
    connect(browseFile, &QPushButton::clicked, this, &CRipAlbumDlg::OnBrowseFile);
    connect(m_start, &QPushButton::clicked, this, &CRipAlbumDlg::OnStart);
    connect(close, &QPushButton::clicked, this, &CRipAlbumDlg::reject);
    m_pollTimer.setInterval(200);
    connect(&m_pollTimer, &QTimer::timeout, this, [this] { m_job->OnTimer(); });
}

CRipAlbumDlg::~CRipAlbumDlg() {
    QM_TRACE("RipAlbumDlg");
    m_pollTimer.stop();
}

QString CRipAlbumDlg::FileDialogFilter() {
    QM_TRACE("RipAlbumDlg");
    // "Name|patterns|..." pairs into Qt's "Name (patterns);;..." form.
    const QStringList parts = QString::fromLatin1(kFileFilter).split(QLatin1Char('|'));
    QStringList filters;
    for (int at = 0; at + 1 < parts.size(); at += 2) {
        if (parts[at].isEmpty()) {
            break;
        }
        QString name = parts[at];
        QString patterns = parts[at + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << (name.contains(QLatin1Char('(')) ? name : name + " (" + patterns + ")");
    }
    QM_RETURN(0, filters.join(QStringLiteral(";;")));
}

bool CRipAlbumDlg::OnInitDialog() {
    QM_TRACE("RipAlbumDlg");
    RipAlbumSettings stored;
    ReadSettingsStore(
        [&stored](const qm::SettingsStore& store) { LoadRipAlbumSettings(stored, store); });
    if (!m_job->OnInitDialog(m_infoBar, stored)) {
        QM_RETURN(0, false);
    }
    DisplayTracksInfo();
    m_silence->setChecked(m_job->GetInsertSilence());
    m_silenceLength->setText(Qt8(qm::Format("%.1lf", m_job->GetSilenceLength())));
    SyncFormat();
    if (m_list->topLevelItemCount() > 0) {
        m_list->setCurrentItem(m_list->topLevelItem(0));
    }
    UpdateTrackInfo();
    QM_RETURN(1, true);
}

void CRipAlbumDlg::DisplayTracksInfo() {
    QM_TRACE("RipAlbumDlg");
    m_filling = true;
    m_list->clear();
    for (const CAlbumJob::Row& row : m_job->GetRows()) {
        auto* item = new QTreeWidgetItem(m_list);
        if (row.isData) {
            item->setText(0, Qt8(qm::Format("%2d.Data track", row.track)));
            item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
        } else {
            item->setText(0, Qt8(row.title.empty()
                                     ? qm::Format("track%d", row.track)
                                     : qm::Format("%2d.%s", row.track, row.title.c_str())));
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, row.checked ? Qt::Checked : Qt::Unchecked);
            const int seconds = static_cast<int>(row.length);
            item->setText(1, Qt8(qm::Format("%02d:%02d", seconds / 60, seconds % 60)));
            item->setText(2, Qt8(CAlbumJob::TimeToString(row.start)));
            item->setText(3, Qt8(CAlbumJob::TimeToString(row.end)));
        }
    }
    m_filling = false;
}

int CRipAlbumDlg::SelectedRow() const {
    QM_TRACE("RipAlbumDlg");
    QTreeWidgetItem* item = m_list->currentItem();
    QM_RETURN(0, item == nullptr ? -1 : m_list->indexOfTopLevelItem(item));
}

void CRipAlbumDlg::ShowRange(int row) {
    QM_TRACE("RipAlbumDlg");
    const CAlbumJob::Row& entry = m_job->GetRows()[static_cast<std::size_t>(row)];
    if (QTreeWidgetItem* item = m_list->topLevelItem(row)) {
        item->setText(2, Qt8(CAlbumJob::TimeToString(entry.start)));
        item->setText(3, Qt8(CAlbumJob::TimeToString(entry.end)));
    }
    m_from->setText(Qt8(CAlbumJob::TimeToString(entry.start)));
    m_to->setText(Qt8(CAlbumJob::TimeToString(entry.end)));
    UpdateSliderSelection();
}

void CRipAlbumDlg::UpdateTrackInfo() {
    QM_TRACE("RipAlbumDlg");
    const int row = SelectedRow();
    const bool audio = row >= 0 && !m_job->GetRows()[static_cast<std::size_t>(row)].isData;
    for (QWidget* edit : {static_cast<QWidget*>(m_from), static_cast<QWidget*>(m_to),
                          static_cast<QWidget*>(m_fromSpin), static_cast<QWidget*>(m_toSpin),
                          static_cast<QWidget*>(m_fromSlider), static_cast<QWidget*>(m_toSlider)}) {
        edit->setEnabled(audio && !m_job->IsRunning());
    }
    if (!audio) {
        m_from->clear();
        m_to->clear();
        QM_RETURN(0);
    }
    const CAlbumJob::Row& entry = m_job->GetRows()[static_cast<std::size_t>(row)];
    const int steps = static_cast<int>(std::lround(entry.length * kSliderSteps));
    m_filling = true;
    m_fromSlider->setRange(0, steps);
    m_toSlider->setRange(0, steps);
    m_fromSlider->setPageStep(kSliderSteps * 10);
    m_toSlider->setPageStep(kSliderSteps * 10);
    m_filling = false;
    ShowRange(row);
    QM_EXIT(1);
}

void CRipAlbumDlg::UpdateSliderSelection() {
    QM_TRACE("RipAlbumDlg");
    const int row = SelectedRow();
    if (row < 0) {
        QM_RETURN(0);
    }
    const CAlbumJob::Row& entry = m_job->GetRows()[static_cast<std::size_t>(row)];
    m_filling = true;
    m_fromSlider->setValue(static_cast<int>(std::lround(entry.start * kSliderSteps)));
    m_toSlider->setValue(static_cast<int>(std::lround(entry.end * kSliderSteps)));
    m_filling = false;
    QM_EXIT(1);
}

bool CRipAlbumDlg::TakeRange(double from, double to) {
    QM_TRACE("RipAlbumDlg");
    const int row = SelectedRow();
    const bool taken = row >= 0 && m_job->SetRange(row, from, to);
    if (row >= 0) {
        // A rejected time goes back to what the row holds.
        ShowRange(row);
    }
    QM_RETURN(0, taken);
}

void CRipAlbumDlg::OnChangeFrom() {
    QM_TRACE("RipAlbumDlg");
    const int row = SelectedRow();
    double from = 0;
    if (row < 0 || m_filling) {
        QM_RETURN(0);
    }
    const double to = m_job->GetRows()[static_cast<std::size_t>(row)].end;
    if (!CAlbumJob::StringToTime(m_from->text().toStdString(), &from) ||
        !m_job->IsCorrectTime(row, from, to)) {
        ShowRange(row);
        QM_RETURN(1);
    }
    TakeRange(from, to);
    QM_EXIT(2);
}

void CRipAlbumDlg::OnChangeTo() {
    QM_TRACE("RipAlbumDlg");
    const int row = SelectedRow();
    double to = 0;
    if (row < 0 || m_filling) {
        QM_RETURN(0);
    }
    const double from = m_job->GetRows()[static_cast<std::size_t>(row)].start;
    if (!CAlbumJob::StringToTime(m_to->text().toStdString(), &to) ||
        !m_job->IsCorrectTime(row, from, to)) {
        ShowRange(row);
        QM_RETURN(1);
    }
    TakeRange(from, to);
    QM_EXIT(2);
}

void CRipAlbumDlg::OnDeltaposFromSpin(int delta) {
    QM_TRACE("RipAlbumDlg");
    const int row = SelectedRow();
    if (row >= 0) {
        const CAlbumJob::Row& entry = m_job->GetRows()[static_cast<std::size_t>(row)];
        TakeRange(std::max(entry.start + delta, 0.0), entry.end);
    }
    const QSignalBlocker block(m_fromSpin);
    m_fromSpin->setValue(0);
}

void CRipAlbumDlg::OnDeltaposToSpin(int delta) {
    QM_TRACE("RipAlbumDlg");
    const int row = SelectedRow();
    if (row >= 0) {
        const CAlbumJob::Row& entry = m_job->GetRows()[static_cast<std::size_t>(row)];
        TakeRange(entry.start, std::min(entry.end + delta, entry.length));
    }
    const QSignalBlocker block(m_toSpin);
    m_toSpin->setValue(0);
}

void CRipAlbumDlg::OnHScroll() {
    QM_TRACE("RipAlbumDlg");
    if (m_filling || SelectedRow() < 0) {
        QM_RETURN(0);
    }
    TakeRange(m_fromSlider->value() / static_cast<double>(kSliderSteps),
              m_toSlider->value() / static_cast<double>(kSliderSteps));
    QM_EXIT(1);
}

void CRipAlbumDlg::OnItemChanged(QTreeWidgetItem* item, int column) {
    QM_TRACE("RipAlbumDlg");
    if (m_filling || column != 0) {
        QM_RETURN(0);
    }
    m_job->SetChecked(m_list->indexOfTopLevelItem(item), item->checkState(0) == Qt::Checked);
    QM_EXIT(1);
}

void CRipAlbumDlg::OnSelectAll() {
    QM_TRACE("RipAlbumDlg");
    for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
        if (!m_job->GetRows()[static_cast<std::size_t>(row)].isData) {
            m_list->topLevelItem(row)->setCheckState(0, Qt::Checked);
        }
    }
}

void CRipAlbumDlg::OnUnselectAll() {
    QM_TRACE("RipAlbumDlg");
    for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
        if (!m_job->GetRows()[static_cast<std::size_t>(row)].isData) {
            m_list->topLevelItem(row)->setCheckState(0, Qt::Unchecked);
        }
    }
}

void CRipAlbumDlg::OnInvertSelection() {
    QM_TRACE("RipAlbumDlg");
    for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
        if (!m_job->GetRows()[static_cast<std::size_t>(row)].isData) {
            QTreeWidgetItem* item = m_list->topLevelItem(row);
            item->setCheckState(0,
                                item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        }
    }
}

void CRipAlbumDlg::SyncFormat() {
    QM_TRACE("RipAlbumDlg");
    const FormatSettings& format = m_job->AlbumTrack().format;
    const QSignalBlocker block(m_format);
    m_format->setCurrentIndex(m_format->findData(static_cast<int>(format.format)));
    m_description->setText(Qt8(CTrackList::FormatDescription(format)));
}

void CRipAlbumDlg::OnSelChangeFormat(int index) {
    QM_TRACE("RipAlbumDlg");
    if (index < 0) {
        QM_RETURN(0);
    }
    m_job->AlbumTrack().format.format =
        static_cast<OutputFormat>(m_format->itemData(index).toInt());
    SyncFormat();
    QM_EXIT(1);
}

void CRipAlbumDlg::OnSetFormat() {
    QM_TRACE("RipAlbumDlg");
    TrackPropertiesOptions options;
    options.startPage = kTrackFormatPage;
    ShowTrackProperties(this, {&m_job->AlbumTrack()}, options);
    SyncFormat();
}

void CRipAlbumDlg::OnSetID3Tag() {
    QM_TRACE("RipAlbumDlg");
    TrackPropertiesOptions options;
    options.startPage = kTrackTagPage;
    ShowTrackProperties(this, {&m_job->AlbumTrack()}, options);
}

void CRipAlbumDlg::OnSetNaming() {
    QM_TRACE("RipAlbumDlg");
    bool ok = false;
    const QString mask = QInputDialog::getText(
        this, QStringLiteral("Naming"),
        QStringLiteral("Album file name ({ARTIST}, {ALBUM}, {YEAR}, {GENRE}):"), QLineEdit::Normal,
        Qt8(m_job->GetNamingMask()), &ok);
    if (!ok) {
        QM_RETURN(0);
    }
    const std::string text = mask.toStdString();
    if (const char illegal = FindIllegalMaskCharacter(text); illegal != '\0') {
        QMessageBox::warning(this, QString::fromLatin1(kIllegalMaskTitle),
                             Qt8(IllegalMaskCharacterMessage(illegal)));
        QM_RETURN(1);
    }
    m_job->SetNamingMask(text);
    ChangeSettingsStore([&text](qm::SettingsStore& store) {
        RipAlbumSettings values;
        LoadRipAlbumSettings(values, store);
        values.Mask_RipAlbum = text;
        SaveRipAlbumSettings(values, store);
    });
    QM_EXIT(2);
}

void CRipAlbumDlg::OnGenerateName() {
    QM_TRACE("RipAlbumDlg");
    m_job->OnGenerateName();
    m_file->setText(Qt8(m_job->GetOutputFileName()));
}

void CRipAlbumDlg::OnBrowseFolder() {
    QM_TRACE("RipAlbumDlg");
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Select output folder"), Qt8(m_job->GetOutputFolder()));
    if (!folder.isEmpty()) {
        m_job->SetOutputFolder(folder.toStdString());
        OnGenerateName();
    }
}

void CRipAlbumDlg::OnBrowseFile() {
    QM_TRACE("RipAlbumDlg");
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Save album as"),
                                                      m_file->text(), FileDialogFilter());
    if (!file.isEmpty()) {
        m_file->setText(file);
    }
}

void CRipAlbumDlg::OnStart() {
    QM_TRACE("RipAlbumDlg");
    if (!m_job->IsRunning()) {
        double seconds = m_job->GetSilenceLength();
        bool ok = false;
        const double typed = m_silenceLength->text().toDouble(&ok);
        if (ok && typed >= 0 && typed <= 3600) {
            seconds = typed;
        }
        m_job->SetSilenceLength(seconds);
        m_job->SetInsertSilence(m_silence->isChecked());
        m_job->SetOutputFileName(m_file->text().toStdString());
    }
    m_job->OnStart();
}

void CRipAlbumDlg::SetRowChecked(int row, bool checked) {
    QM_TRACE("RipAlbumDlg");
    if (QTreeWidgetItem* item = m_list->topLevelItem(row)) {
        m_filling = true;
        item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
        m_filling = false;
    }
}

void CRipAlbumDlg::ShowRowProgress(int row) {
    QM_TRACE("RipAlbumDlg");
    m_progressRow = row;
    QTreeWidgetItem* item = row >= 0 ? m_list->topLevelItem(row) : nullptr;
    if (item == nullptr) {
        m_rowProgress->hide();
        QM_RETURN(0);
    }
    QRect rect = m_list->visualItemRect(item);
    const int left = m_list->columnWidth(0);
    rect.setLeft(left);
    m_rowProgress->setGeometry(rect);
    m_rowProgress->setValue(0);
    m_rowProgress->show();
    m_list->scrollToItem(item);
    QM_EXIT(1);
}

void CRipAlbumDlg::SetRowProgress(int percent) {
    QM_TRACE("RipAlbumDlg");
    m_rowProgress->setValue(percent);
}

void CRipAlbumDlg::EnableControls(bool enable) {
    QM_TRACE("RipAlbumDlg");
    for (QWidget* widget : m_idleOnly) {
        widget->setEnabled(enable);
    }
    m_start->setText(enable ? QStringLiteral("Start") : QStringLiteral("Stop"));
    UpdateTrackInfo();
}

PromptAnswer CRipAlbumDlg::Ask(CWarningPrompt& prompt) {
    QM_TRACE("RipAlbumDlg");
    CWarningDlg dialog(prompt, this);
    QM_RETURN(0, dialog.Run());
}

bool CRipAlbumDlg::AskYesNo(const std::string& text, const std::string& caption) {
    QM_TRACE("RipAlbumDlg");
    QM_RETURN(0, QMessageBox::question(this, Qt8(caption), Qt8(text),
                                       QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes);
}

void CRipAlbumDlg::ShowError(const std::string& text, const std::string& caption) {
    QM_TRACE("RipAlbumDlg");
    QMessageBox box(QMessageBox::Critical, Qt8(caption), Qt8(text), QMessageBox::Ok, this);
    box.exec();
}

void CRipAlbumDlg::StartPollTimer() {
    QM_TRACE("RipAlbumDlg");
    m_pollTimer.start();
}

void CRipAlbumDlg::StopPollTimer() {
    QM_TRACE("RipAlbumDlg");
    m_pollTimer.stop();
}

void CRipAlbumDlg::reject() {
    QM_TRACE("RipAlbumDlg");
    if (m_job->IsRunning()) {
        // Closed mid-rip: the rip is stopped and ends through its own end
        // (the album file goes) before the dialog does.
        m_job->StopProcess();
        while (m_job->IsRunning()) {
            m_job->OnTimer();
            QThread::msleep(20);
        }
    }
    QDialog::reject();
}

void CRipAlbumDlg::closeEvent(QCloseEvent* event) {
    QM_TRACE("RipAlbumDlg");
    event->ignore();
    reject();
}

} // namespace qm::ui
