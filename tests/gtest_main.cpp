// gtest_main.cpp: GoogleTest's side of every C++ test binary: SDL started
// as the program starts it (the kit's kit_start: the dummy video driver
// unless SDL_VIDEODRIVER names another) for the whole run, then every test.
#include "kit.h"

#include <gtest/gtest.h>

namespace
{

class sdl_environment : public ::testing::Environment
{
  public:
    void SetUp() override
    {
        ASSERT_TRUE(kit_start("tests", "dummy"));
    }
    void TearDown() override
    {
        SDL_Quit();
    }
};

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new sdl_environment);
    return RUN_ALL_TESTS();
}
