#include "core/callerid/sources/LineSources.h"

#include "core/callerid/CallerIdSettings.h"
#include "core/callerid/sources/AudioFileSource.h"
#include "core/callerid/sources/ModemSource.h"
#include "core/callerid/sources/NcidSource.h"
#include "core/callerid/sources/SipSource.h"
#include "core/callerid/sources/SoundCardSource.h"

LineSource *createLineSource(const CallerIdSettings &s, QObject *parent)
{
    switch (s.source) {
    case CallerIdSettings::Source::SoundCard:
        return new SoundCardSource(s.soundDevice, s.a8Sensibility, s.a2DDDLocal, parent);
    case CallerIdSettings::Source::AudioFile:
        return new AudioFileSource(s.audioFile, s.a8Sensibility, s.a2DDDLocal, parent);
    case CallerIdSettings::Source::Modem:
        return new ModemSource(s.modemPort, s.modemBaud, s.modemInit, s.a2DDDLocal, parent);
    case CallerIdSettings::Source::Ncid: return new NcidSource(s.ncidHost, s.ncidPort, s.a2DDDLocal, parent);
    case CallerIdSettings::Source::Sip:
    case CallerIdSettings::Source::SipListen: {
        SipSource::Setup setup;
        setup.registering = s.source == CallerIdSettings::Source::Sip;
        setup.address = setup.registering ? s.sipAccount : s.sipListen;
        setup.authUser = s.sipAuthUser;
        setup.passwordFile = s.sipPasswordPath();
        setup.expiresSeconds = s.sipExpires;
        return new SipSource(setup, s.a2DDDLocal, parent);
    }
    case CallerIdSettings::Source::None: break;
    }
    return nullptr;
}
