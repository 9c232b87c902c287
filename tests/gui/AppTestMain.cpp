#include "app/MiravaApplication.h"
#include "support/PrivateUserFolders.h"

#include <cstdlib>
#include <gtest/gtest.h>

// The window tests run under the program's own application object, so its general error handling is what
// they see.
int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const TPrivateUserFolders userFolders;
    TMiravaApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
