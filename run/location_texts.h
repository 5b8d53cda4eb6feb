#pragma once

#include "common/operator_ui.h"

#include <QString>

namespace p1 {

// What the three location labels show until a location is chosen. The import button rule tells
// a chosen location from an unchosen one by comparing with these texts exactly.
inline QString defaultLocationText(Location location)
{
    switch (location) {
    case Location::SourceBase:
        return QStringLiteral("Sélectionner le répertoire de la base de données Sorvane");
    case Location::SourceLetters:
        return QStringLiteral("Sélectionner le répertoire des courriers de Sorvane");
    case Location::TargetBase:
        return QStringLiteral("Sélectionner le répertoire de la base Tessaris");
    }
    return {};
}

inline bool isLocationChosen(const OperatorUi& ui, Location location)
{
    return ui.locationText(location) != defaultLocationText(location);
}

} // namespace p1
