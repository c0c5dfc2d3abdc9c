#include "toolkit_contract.hpp"

namespace pelmora::forms::test {

INSTANTIATE_TEST_SUITE_P(Headless, ToolkitContract, ::testing::Values("headless"));

TEST(HeadlessToolkit, IsTheProcessToolkitWithoutAQtApplication) {
    if (win32_toolkit() != nullptr) GTEST_SKIP() << "Windows builds always have their own toolkit";
    EXPECT_EQ(qt_toolkit(), nullptr);
    EXPECT_EQ(process_toolkit().name(), "headless");
}

TEST(HeadlessToolkit, NativeHandleIsTheControlItself) {
    auto surface = headless_toolkit().create_surface("UserControl");
    DropDownList& list = surface->create_list("Combo", *surface);
    EXPECT_EQ(static_cast<Control*>(surface->native_handle())->as_surface(), surface.get());
    EXPECT_EQ(static_cast<Control*>(list.native_handle())->as_list(), &list);
}

TEST(Twips, ConvertAtTheScreensDpi) {
    EXPECT_EQ(twips_to_pixels(1440, 96.0), 96);
    EXPECT_EQ(twips_to_pixels(15, 96.0), 1);
    EXPECT_EQ(twips_to_pixels(7065, 96.0), 471);
    EXPECT_EQ(twips_to_pixels(1780, 96.0), 119);  // 118.67
    EXPECT_EQ(twips_to_pixels(1440, 120.0), 120);
    EXPECT_EQ(twips_to_pixels(2175, 144.0), 218);  // 217.5 rounds away from zero
    EXPECT_EQ(twips_to_pixels(0, 96.0), 0);
}

}  // namespace pelmora::forms::test
