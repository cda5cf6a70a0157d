#include "outcomes.h"

#include "exit_status.h"

QString outcomeName(ModuleReading::Outcome value)
{
    switch (value) {
    case ModuleReading::Outcome::Complete: return outcome::ok;
    case ModuleReading::Outcome::InformationError: return outcome::informationError;
    case ModuleReading::Outcome::NotFound: return outcome::notFound;
    case ModuleReading::Outcome::NoPort: return outcome::noPort;
    case ModuleReading::Outcome::Interrupted: return outcome::interrupted;
    }
    return outcome::failure;
}

int exitStatusForOutcome(const QString &name)
{
    if (name == outcome::ok || name == outcome::alreadySet)
        return kExitSuccess;
    if (name == outcome::notFound || name == outcome::badCheck)
        return kExitNotFound;
    if (name == outcome::noPort)
        return kExitNoPort;
    if (name == outcome::informationError)
        return kExitInformationError;
    if (name == outcome::clearRefused || name == outcome::setBaudRefused)
        return kExitRefused;
    if (name == outcome::setBaudUnconfirmed)
        return kExitNotConfirmed;
    if (name == outcome::interrupted)
        return kExitInterrupted;
    if (name == outcome::badUsage)
        return kExitUsage;
    return kExitFailure;
}

bool isSuccess(const QString &name)
{
    return exitStatusForOutcome(name) == kExitSuccess;
}
