#include "ui/CddbPage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "core/Trace.h"
#include "ui/SettingsHelp.h"

namespace qm::ui {

CCddbPage::CCddbPage(QuavermillSettings& settings, ServerPicker picker, QWidget* parent)
    : CSettingsPage(QStringLiteral("CDDB"), kHelpCddbSettings, parent), m_settings(settings),
      m_picker(std::move(picker)) {
    auto& b = m_bindings;
    const auto line = [&](QFormLayout* form, const char* name, const QString& label, auto member) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        form->addRow(label, edit);
        b.Field<std::string>(std::make_unique<TextView>(edit), member);
        return edit;
    };
    const auto port = [&](QFormLayout* form, const char* name, const QString& label, auto member) {
        auto* spin = new QSpinBox(this);
        spin->setObjectName(QString::fromLatin1(name));
        spin->setRange(0, 65535);
        form->addRow(label, spin);
        b.Field<long long>(std::make_unique<SpinView>(spin), member);
        return spin;
    };
    const auto check = [&](QFormLayout* form, const char* name, const QString& text, auto member) {
        QCheckBox* box = AddCheck(text, form);
        box->setObjectName(QString::fromLatin1(name));
        b.Field<bool>(std::make_unique<CheckView>(box), member);
        return box;
    };

    QFormLayout* server = AddGroup(QStringLiteral("CDDB server"));
    m_server = line(
        server, "CDDBServer", QStringLiteral("Server:"),
        [](auto& s) -> auto& { return s.cddb.CDDBServer; });
    m_path = line(
        server, "HTTPPath", QStringLiteral("Path:"),
        [](auto& s) -> auto& { return s.cddb.HTTPPath; });
    m_port = port(
        server, "HTTPPort", QStringLiteral("Port:"),
        [](auto& s) -> auto& { return s.cddb.HTTPPort; });
    auto* servers = new QPushButton(QStringLiteral("Choose from the server's list..."), this);
    servers->setObjectName(QStringLiteral("ServerList"));
    server->addRow(QString(), servers);
    servers->setVisible(static_cast<bool>(m_picker));
    connect(servers, &QPushButton::clicked, this, &CCddbPage::OnServers);
    QLineEdit* email = line(
        server, "EMail", QStringLiteral("Your e-mail:"),
        [](auto& s) -> auto& { return s.cddb.EMail; });
    email->setToolTip(QStringLiteral("Sent to the server with every request; public servers "
                                     "expect a real address"));

    QFormLayout* proxy = AddGroup(QStringLiteral("Proxy"));
    m_useProxy = check(
        proxy, "UseProxy", QStringLiteral("Connect through a proxy"),
        [](auto& s) -> auto& { return s.cddb.UseProxy; });
    m_proxyServer = line(
        proxy, "ProxyServer", QStringLiteral("Proxy:"),
        [](auto& s) -> auto& { return s.cddb.ProxyServer; });
    m_proxyPort = port(
        proxy, "ProxyPort", QStringLiteral("Port:"),
        [](auto& s) -> auto& { return s.cddb.ProxyPort; });
    m_systemProxy = check(
        proxy, "GetProxyFromExplorer", QStringLiteral("Use the system's proxy (http_proxy)"),
        [](auto& s) -> auto& { return s.cddb.GetProxyFromExplorer; });
    m_proxyAuth = check(
        proxy, "ProxyAuth", QStringLiteral("The proxy needs a user name"),
        [](auto& s) -> auto& { return s.cddb.ProxyAuth; });
    m_proxyUser = line(
        proxy, "ProxyUser", QStringLiteral("User:"),
        [](auto& s) -> auto& { return s.cddb.ProxyUser; });
    m_proxyPassword = line(
        proxy, "ProxyPassword", QStringLiteral("Password:"),
        [](auto& s) -> auto& { return s.cddb.ProxyPassword; });
    m_proxyPassword->setEchoMode(QLineEdit::Password);

    QFormLayout* cache = AddGroup(QStringLiteral("Local CDDB"));
    check(
        cache, "AutoLoadLocalCDDB", QStringLiteral("Take a disc's names from the local CDDB"),
        [](auto& s) -> auto& { return s.cddb.AutoLoadLocalCDDB; });
    check(
        cache, "AutoSaveLocalCDDB",
        QStringLiteral("Keep the names found in CDDB in the local CDDB"),
        [](auto& s) -> auto& { return s.cddb.AutoSaveLocalCDDB; });
    Column()->addStretch(1);

    for (QCheckBox* box : {m_useProxy, m_systemProxy, m_proxyAuth}) {
        connect(box, &QCheckBox::stateChanged, this, &CCddbPage::UpdateControls);
    }
    Load();
}

void CCddbPage::UpdateControls() {
    const bool proxy = m_useProxy->isChecked();
    const bool ownProxy = proxy && !m_systemProxy->isChecked();
    m_systemProxy->setEnabled(proxy);
    m_proxyServer->setEnabled(ownProxy);
    m_proxyPort->setEnabled(ownProxy);
    m_proxyAuth->setEnabled(proxy);
    m_proxyUser->setEnabled(proxy && m_proxyAuth->isChecked());
    m_proxyPassword->setEnabled(proxy && m_proxyAuth->isChecked());
}

void CCddbPage::Load() {
    QM_TRACE("CddbPage");
    m_bindings.Load({&m_settings});
    UpdateControls();
}

bool CCddbPage::Validate() {
    QM_TRACE("CddbPage");
    if (m_port->value() < 1) {
        Warn(QStringLiteral("Warning"), QStringLiteral("The server's port must be 1 to 65535."));
        m_port->setFocus();
        QM_RETURN(0, false);
    }
    if (m_proxyPort->isEnabled() && m_proxyPort->value() < 1) {
        Warn(QStringLiteral("Warning"), QStringLiteral("The proxy's port must be 1 to 65535."));
        m_proxyPort->setFocus();
        QM_RETURN(1, false);
    }
    QM_RETURN(2, true);
}

void CCddbPage::Store() {
    QM_TRACE("CddbPage");
    m_bindings.Store({&m_settings});
}

CDDBSettings CCddbPage::Shown() const {
    QuavermillSettings shown = m_settings;
    m_bindings.Store({&shown});
    return shown.cddb;
}

void CCddbPage::OnServers() {
    QM_TRACE("CddbPage");
    CCDDBServersList::Choice choice;
    if (!m_picker || !m_picker(this, Shown(), &choice)) {
        QM_RETURN(0);
    }
    m_server->setText(QString::fromStdString(choice.host));
    m_path->setText(QString::fromStdString(choice.path));
    m_port->setValue(choice.port);
    QM_EXIT(1);
}

} // namespace qm::ui
