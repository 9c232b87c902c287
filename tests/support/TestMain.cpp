#include "support/PrivateUserFolders.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    const TPrivateUserFolders userFolders;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
