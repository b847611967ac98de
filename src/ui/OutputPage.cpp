#include "ui/OutputPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/Trace.h"
#include "output/Naming.h"
#include "ui/SettingsHelp.h"

namespace qm::ui {

namespace {

// The disc the example name is made for.
DiscInfo ExampleDisc() {
    DiscInfo disc;
    disc.artist = "Artist";
    disc.title = "Album";
    disc.year = 1999;
    disc.genre = "Rock";
    disc.firstTrack = 1;
    disc.lastTrack = 3;
    disc.tracks = {{"First", "", 200, ""}, {"Second", "", 200, ""}, {"Title", "", 200, ""}};
    return disc;
}

constexpr std::uint32_t kExampleDiscId = 0x8A0B1C0D;

} // namespace

COutputPage::COutputPage(QuavermillSettings& settings, QWidget* parent)
    : CSettingsPage(QStringLiteral("Output"), kHelpOutputSettings, parent), m_settings(settings) {
    auto& b = m_bindings;

    QFormLayout* where = AddGroup(QStringLiteral("Output folder"));
    m_folder = new QLineEdit(this);
    m_folder->setObjectName(QStringLiteral("OutputFolder"));
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    browse->setObjectName(QStringLiteral("BrowseOutputFolder"));
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(browse);
    where->addRow(QStringLiteral("Folder:"), folderRow);
    b.Field<std::string>(
        std::make_unique<TextView>(m_folder),
        [](auto& s) -> auto& { return s.naming.OutputFolder; });
    connect(browse, &QPushButton::clicked, this, &COutputPage::OnBrowse);

    QFormLayout* naming = AddGroup(QStringLiteral("File names"));
    m_mask = new QLineEdit(this);
    m_mask->setObjectName(QStringLiteral("NameFormat"));
    naming->addRow(QStringLiteral("Template:"), m_mask);
    b.Field<std::string>(
        std::make_unique<TextView>(m_mask), [](auto& s) -> auto& { return s.naming.NameFormat; });

    // One button per token, inserting it at the caret.
    auto* tokens = new QGridLayout;
    int column = 0;
    for (const char* token : TemplateTokens) {
        auto* button = new QPushButton(QString::fromLatin1(token), this);
        button->setObjectName(QString::fromLatin1(token));
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QPushButton::clicked, this, [this, token] {
            m_mask->insert(QString::fromLatin1(token));
            m_mask->setFocus();
        });
        tokens->addWidget(button, column / 4, column % 4);
        ++column;
    }
    auto* folderButton = new QPushButton(QStringLiteral("/ (folder)"), this);
    folderButton->setObjectName(QStringLiteral("FolderSeparator"));
    folderButton->setFocusPolicy(Qt::NoFocus);
    folderButton->setToolTip(QStringLiteral("Starts a sub-folder"));
    connect(folderButton, &QPushButton::clicked, this, [this] {
        m_mask->insert(QStringLiteral("/"));
        m_mask->setFocus();
    });
    tokens->addWidget(folderButton, column / 4, column % 4);
    naming->addRow(QStringLiteral("Insert:"), tokens);

    m_example = new QLabel(this);
    m_example->setObjectName(QStringLiteral("Example"));
    m_example->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_example->setWordWrap(true);
    // A wrapped label keeps to its narrow size hint in a form unless it may
    // grow, and gets the height of one line; a long example name needs the
    // row's width and a few lines.
    m_example->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_example->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_example->setMinimumHeight(3 * m_example->fontMetrics().lineSpacing());
    naming->addRow(QStringLiteral("Example:"), m_example);

    QCheckBox* unique = AddCheck(
        QStringLiteral("When the file exists, make a new name instead of overwriting it"), naming);
    unique->setObjectName(QStringLiteral("GenerateIfExist"));
    b.Field<bool>(
        std::make_unique<CheckView>(unique),
        [](auto& s) -> auto& { return s.naming.GenerateIfExist; });

    QFormLayout* format = AddGroup(QStringLiteral("New tracks"));
    m_format = new QComboBox(this);
    m_format->setObjectName(QStringLiteral("Default audio format"));
    AddFormatChoices(m_format);
    format->addRow(QStringLiteral("Output format:"), m_format);
    b.Bind<long long>(
        std::make_unique<ComboView>(m_format),
        [](const QuavermillSettings& s) {
            return static_cast<long long>(s.DefaultTrack.format.format);
        },
        [](QuavermillSettings& s, const long long& value) {
            s.DefaultTrack.format.format = static_cast<OutputFormat>(value);
        });
    Column()->addStretch(1);

    connect(m_folder, &QLineEdit::textChanged, this, &COutputPage::UpdateExample);
    connect(m_mask, &QLineEdit::textChanged, this, &COutputPage::UpdateExample);
    connect(m_format, &QComboBox::currentIndexChanged, this, &COutputPage::UpdateExample);
    Load();
}

void COutputPage::Load() {
    QM_TRACE("OutputPage");
    m_bindings.Load({&m_settings});
    UpdateExample();
}

bool COutputPage::Validate() {
    QM_TRACE("OutputPage");
    const char illegal = FindIllegalMaskCharacter(m_mask->text().toStdString());
    if (illegal != 0) {
        Warn(QString::fromLatin1(kIllegalMaskTitle),
             QString::fromStdString(IllegalMaskCharacterMessage(illegal)));
        m_mask->setFocus();
        QM_RETURN(0, false);
    }
    QM_RETURN(1, true);
}

void COutputPage::Store() {
    QM_TRACE("OutputPage");
    m_bindings.Store({&m_settings});
}

void COutputPage::OnBrowse() {
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Select output folder"), m_folder->text());
    if (!folder.isEmpty()) {
        m_folder->setText(folder);
    }
}

void COutputPage::UpdateExample() {
    const std::string mask = m_mask->text().toStdString();
    if (FindIllegalMaskCharacter(mask) != 0) {
        m_example->setText(QStringLiteral("(the template holds a character names may not hold)"));
        return;
    }
    NamingOptions options;
    options.outputFolder = m_folder->text().toStdString();
    options.nameFormat = mask;
    CID3Tag tag;
    tag.SetTag("Title", "Title");
    const long long format = ChoiceValue(m_format);
    const NamingRecord record{tag, false, static_cast<std::int32_t>(format >= 0 ? format : 1)};
    m_example->setText(
        QString::fromStdString(FormatTrackName(options, ExampleDisc(), record, 3, kExampleDiscId)));
}

} // namespace qm::ui
