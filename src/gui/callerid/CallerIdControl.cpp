#include "gui/callerid/CallerIdControl.h"

#include "core/callerid/OutsideText.h"
#include "core/callerid/sources/LineSources.h"
#include "core/callerid/sources/LocalSocketSource.h"
#include "core/contacts/PhoneNumber.h"
#include "gui/callerid/CallerIdSetupDialog.h"

namespace {
const QString NameSeparator = QStringLiteral(" · ");
} // namespace

CallerIdControl::CallerIdControl(QWidget *parent)
    : QLabel(InitialText, parent)
{
    setTextFormat(Qt::PlainText); // names and texts come from outside
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents); // the attendant cannot click into it
    setAlignment(Qt::AlignCenter);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0, 0, 128)); // navy
    pal.setColor(QPalette::WindowText, QColor(0, 255, 255)); // aqua
    setPalette(pal);
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(8.25);
    f.setBold(true);
    setFont(f);
}

CallerIdControl::~CallerIdControl()
{
    stopSources();
}

void CallerIdControl::setDataDir(const QString &dataDir)
{
    m_dataDir = dataDir;
    m_settings = CallerIdSettings::load(dataDir);
}

void CallerIdControl::setAreaCode(const QString &areaCode)
{
    updateSettings([&](CallerIdSettings &s) { s.a2DDDLocal = areaCode; });
}

void CallerIdControl::setPluginPath(const QString &path)
{
    updateSettings([&](CallerIdSettings &s) { s.a3RootPlugIn = path; });
}

void CallerIdControl::updateSettings(const std::function<void(CallerIdSettings &)> &change)
{
    // The file may have changed since it was read (the configuration screen,
    // another tool): change one property of what it holds now.
    if (!m_dataDir.isEmpty())
        m_settings = CallerIdSettings::load(m_dataDir);
    change(m_settings);
    if (!m_dataDir.isEmpty())
        m_settings.save(m_dataDir);
}

void CallerIdControl::activate()
{
    stopSources();
    // Settings changed in the configuration screen count from here on.
    if (!m_dataDir.isEmpty())
        m_settings = CallerIdSettings::load(m_dataDir);
    if (!m_lineOverride.isEmpty())
        m_settings.applyLine(m_lineOverride, nullptr); // checked when the command line was read
    m_active = true;
    m_source = createLineSource(m_settings, this);
    if (!m_dataDir.isEmpty())
        m_socket = new LocalSocketSource(LocalSocketSource::socketPath(m_dataDir), m_settings.a2DDDLocal, this);
    for (LineSource *source : { m_source, m_socket }) {
        if (!source)
            continue;
        source->setCallerLookup(m_callerLookup);
        source->setHabit(m_habits.value(habitKey(source)));
        connect(source, &LineSource::callerReceived, this, [this, source](const QString &number, const QString &name) {
            m_lastSource = source;
            reportNumber(number, name);
        });
        connect(source, &LineSource::textReceived, this, [this, source](const QString &text) {
            m_lastSource = source;
            reportText(text);
        });
        connect(source, &LineSource::statusChanged, this,
            [this, source](const QString &status, bool healthy) { sourceStatus(source, status, healthy); });
        source->start();
    }
}

void CallerIdControl::deactivate()
{
    stopSources();
    m_active = false;
    showFitted();
    setToolTip(QString());
    emit statusChanged(QString(), true);
}

QString CallerIdControl::habitKey(const LineSource *source) const
{
    return source == m_socket ? QStringLiteral("socket") : CallerIdSettings::sourceKey(m_settings.source);
}

void CallerIdControl::stopSources()
{
    for (LineSource *source : { m_source, m_socket }) {
        if (source) {
            m_habits.insert(habitKey(source), source->habit());
            source->stop();
            delete source;
        }
    }
    m_source = m_socket = nullptr;
    m_lastSource = nullptr;
    m_states.clear();
}

void CallerIdControl::configure()
{
    CallerIdSetupDialog dialog(m_dataDir, window());
    dialog.exec();
}

void CallerIdControl::sourceStatus(const LineSource *source, const QString &status, bool healthy)
{
    // The display keeps the last number: the attendant may still be on that
    // call. The sources' states go beside it, each in full.
    m_states.insert(source, { status, healthy });
    QStringList all;
    QString shown;
    bool allHealthy = true;
    for (const LineSource *s : { m_source, m_socket }) {
        const auto state = m_states.constFind(s);
        if (state == m_states.cend())
            continue;
        all << state->text;
        if (!state->healthy && allHealthy) {
            shown = state->text;
            allHealthy = false;
        }
    }
    if (allHealthy) {
        const auto line = m_states.constFind(m_source ? m_source : m_socket);
        shown = line != m_states.cend() ? line->text : QString();
    }
    setToolTip(OutsideText::toolTip(all.join(QLatin1Char('\n'))));
    emit statusChanged(shown, allHealthy);
}

void CallerIdControl::reportNumber(const QString &number, const QString &callerName)
{
    if (!m_active)
        return;
    // The number shown is the number's own, laid out; a name, whatever it
    // holds, comes after it in quotes and cannot pass for a number.
    m_lastCallerName = OutsideText::name(callerName);
    showCaller(PhoneNumber::read(number, m_settings.a2DDDLocal).layout(), m_lastCallerName);
    emit numberReceived(number);
}

void CallerIdControl::showCaller(const QString &laidOut, const QString &name)
{
    const QString shownName = OutsideText::name(name);
    m_shownNumber = shownName.isEmpty() ? QString() : laidOut + NameSeparator;
    m_shown = m_shownNumber + (shownName.isEmpty() ? laidOut : OutsideText::quoted(shownName));
    showFitted();
}

void CallerIdControl::reportText(const QString &text)
{
    if (!m_active)
        return;
    m_lastCallerName.clear();
    m_shownNumber.clear();
    m_shown = text;
    showFitted();
    emit textReceived(text);
}

void CallerIdControl::showFitted()
{
    // Centred text wider than the display loses both ends: the name gives
    // way, the number never does.
    const int room = contentsRect().width() - 2 * margin();
    const QFontMetrics metrics = fontMetrics();
    if (m_shownNumber.isEmpty() || metrics.horizontalAdvance(m_shown) <= room) {
        setText(m_shown);
        return;
    }
    const QString name = m_shown.mid(m_shownNumber.size());
    setText(m_shownNumber
        + metrics.elidedText(name, Qt::ElideRight, std::max(0, room - metrics.horizontalAdvance(m_shownNumber))));
}

void CallerIdControl::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    // A number with a name, unless a notice has taken its place.
    if (!m_shownNumber.isEmpty() && text().startsWith(m_shownNumber))
        showFitted();
}

QString CallerIdControl::callSource() const
{
    if (m_lastSource && m_lastSource == m_socket)
        return QStringLiteral("socket");
    return CallerIdSettings::sourceKey(m_settings.source);
}

QString CallerIdControl::callLine() const
{
    const LineSource *source = m_lastSource ? m_lastSource : m_source;
    return source ? source->lineName() : QString();
}

void CallerIdControl::showNotice(const QString &text)
{
    setText(text);
    setToolTip(OutsideText::toolTip(text));
}
