#include "TrackOpening.h"

#include "FileNames.h"
#include "playback/engine/AudioEngine.h"
#include "state/AppState.h"
#include "widgets/Dialogs.h"
#include "windows/FrmVoice.h"

#include <QLocale>

QString CutAtNul(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

QString FormatPlayTime(int32_t seconds)
{
    const int64_t s = seconds;
    const int64_t minutes = s >= 0 ? s / 60 : -((-s + 59) / 60);
    const int64_t rest = s - minutes * 60;
    return QStringLiteral("%1:%2").arg(minutes, 2, 10, QChar(u'0')).arg(rest, 2, 10, QChar(u'0'));
}

QString formatKiloHertz(int32_t hertz)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    // 'f' with the shortest precision gives the round-trip digits and never an exponent.
    return locale.toString(hertz / 1000.0, 'f', QLocale::FloatingPointShortest);
}

namespace {
// The engine's fixed-size text field, read only as far as it goes.
QString fieldText(const char (&field)[128])
{
    return CutAtNul(QString::fromLocal8Bit(field, sizeof field));
}
} // namespace

bool OpenCurrentTrack(const PlayerContext &p)
{
    TrackInfo info{};
    if (!p.engine.vbmp3_open(fileNameBytes(p.state.CurrentFile).toStdString(), info)) {
        const int32_t error = p.engine.vbmp3_getLastErrorNo();
        // The box runs its own event loop: a tick left running under it would take the stopped engine
        // for a track's end and move on to the next track.
        p.frmVoice.Timer1->setEnabled(false);
        p.frmVoice.lblState->setText(QStringLiteral("停止"));
        ClearVoiceBars(p.frmVoice);
        p.dialogs.message(&p.frmVoice, QStringLiteral("ErrNo : %1 Open Error").arg(error));
        return false;
    }
    p.frmVoice.lblTotalTime->setText(FormatPlayTime(info.TotalSeconds));
    p.frmVoice.lblChannel->setText(info.Channels == 2 ? QStringLiteral("STEREO") : QStringLiteral("MONO"));
    p.frmVoice.lblRate->setText(formatKiloHertz(info.SamplingRate));
    const QString pcm = QStringLiteral("WAVE_FORMAT_PCM");
    const bool pcmWave = fieldText(info.Description1) == pcm && fieldText(info.Description2) == pcm;
    p.frmVoice.lblBit->setText(QString::number(info.BitValue));
    p.frmVoice.lblBitLbl->setText(pcmWave ? QStringLiteral("bit/smp") : QStringLiteral("kbit/s"));
    return true;
}
