#include "TVLViewerFlagsViewController.h"

#include "Tavlo/DataObjects/TVLSettings.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLToolSteps.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>

#include <algorithm>

namespace {
const QString &kDisplayModeKey = TVLSettings::sessionDisplayModeKey;
const QString &kRelativeTimeKey = TVLSettings::relativeTimeKey;
} // namespace

TVLViewerFlagsViewController::TVLViewerFlagsViewController(QWidget *parent)
    : QWidget(parent)
    , m_modelName(new QLabel(this))
    , m_tokens(new QToolButton(this))
    , m_titleMode(new QComboBox(this))
    , m_relativeTime(new QCheckBox(tr("Relative Time"), this))
    , m_toolSteps(new QCheckBox(tr("Show Tool Steps"), this))
    , m_changes(new QToolButton(this))
{
    setObjectName(QStringLiteral("TVLViewerFlags"));
    TVLSession::registerDefaults();
    TVLToolSteps::registerDefaults();
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 4, 0);
    layout->setSpacing(10);

    m_tokens->setText(tr("Tokens"));
    m_tokens->setToolTip(tr("Show or hide the token columns"));
    m_tokens->setCheckable(true);
    connect(m_tokens, &QToolButton::clicked, this, [this] { Q_EMIT toggleTokenUsageVisibility(); });

    // Values are the setting's: 0 file name, 1 start, 2 last change, 3 first prompt, 4 last prompt,
    // 5 the session's own title.
    m_titleMode->addItems({tr("File Name"), tr("Start Date"), tr("Last Changed"), tr("First Prompt"), tr("Last Prompt"), tr("Title")});
    m_titleMode->setToolTip(tr("What session rows show"));
    connect(m_titleMode, &QComboBox::activated, this,
            [](int index) { HVXDefaults::standard().setInteger(kDisplayModeKey, index); });

    m_relativeTime->setToolTip(tr("Show dates as \"5 minutes ago\""));
    connect(m_relativeTime, &QCheckBox::toggled, this,
            [](bool on) { HVXDefaults::standard().setBool(kRelativeTimeKey, on); });

    m_toolSteps->setToolTip(tr("Show tool calls, their results and images on the page"));
    connect(m_toolSteps, &QCheckBox::toggled, this,
            [](bool on) { HVXDefaults::standard().setBool(TVLToolSteps::settingKey, on); });

    m_changes->setText(tr("Changes"));
    m_changes->setToolTip(tr("The files the shown session changed, with their edits"));
    connect(m_changes, &QToolButton::clicked, this, [this] { Q_EMIT showChangesRequested(); });

    m_modelName->setObjectName(QStringLiteral("TVLModelNameLabel"));
    m_modelName->setToolTip(tr("The model that answered the selected exchange"));
    m_modelName->setForegroundRole(QPalette::PlaceholderText);
    m_modelName->hide();

    layout->addWidget(m_modelName);
    layout->addWidget(m_titleMode);
    layout->addWidget(m_relativeTime);
    layout->addWidget(m_toolSteps);
    layout->addWidget(m_changes);
    layout->addWidget(m_tokens);

    HVXDefaults::standard().observe(kDisplayModeKey, this, [this] { syncFromSettings(); });
    HVXDefaults::standard().observe(kRelativeTimeKey, this, [this] { syncFromSettings(); });
    HVXDefaults::standard().observe(TVLToolSteps::settingKey, this, [this] { syncFromSettings(); });
    syncFromSettings();
}

void TVLViewerFlagsViewController::setModelName(const QString &name)
{
    m_modelName->setText(name);
    m_modelName->setVisible(!name.isEmpty());
}

void TVLViewerFlagsViewController::setTokenColumnsShown(bool shown)
{
    const QSignalBlocker blocker(m_tokens);
    m_tokens->setChecked(shown);
}

void TVLViewerFlagsViewController::syncFromSettings()
{
    const QSignalBlocker modeBlocker(m_titleMode);
    const QSignalBlocker relativeBlocker(m_relativeTime);
    const QSignalBlocker toolStepsBlocker(m_toolSteps);
    m_titleMode->setCurrentIndex(int(std::clamp<qint64>(HVXDefaults::standard().integerForKey(kDisplayModeKey), 0, 5)));
    m_relativeTime->setChecked(HVXDefaults::standard().boolForKey(kRelativeTimeKey));
    m_toolSteps->setChecked(HVXDefaults::standard().boolForKey(TVLToolSteps::settingKey));
}
