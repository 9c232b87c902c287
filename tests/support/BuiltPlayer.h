// Starts the skin subsystem with the movie player library this build made (the test target defines
// MIRAVA_PLAYER_LIBRARY as its path). Call it under ASSERT_NO_FATAL_FAILURE.
#pragma once

#include "skin/PlayerCodeProvider.h"
#include "skin/SkinSubsystem.h"

#include <QFile>
#include <gtest/gtest.h>
#include <memory>

inline void StartSkinWithBuiltPlayer()
{
    QFile library(QStringLiteral(MIRAVA_PLAYER_LIBRARY));
    ASSERT_TRUE(library.open(QIODevice::ReadOnly)) << MIRAVA_PLAYER_LIBRARY;
    Mrv::TSkinSubsystem::SetPlayerCodeProvider(
        std::make_unique<Mrv::TPlayerCodeProviderBasedOnStream>(library));
    Mrv::TSkinSubsystem::Start();
}
