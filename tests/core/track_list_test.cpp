// The track and demo lists built from the file index.
#include <gtest/gtest.h>

#include <string>

#include "core/track_list.h"
#include "resources/data.h"
#include "test_support.h"

namespace {

TEST(TrackList, TracksByDisplayNameAndDemosByFileName) {
  DataRootsFixture roots;
  write_file(roots.install + "zulu/terrain.hf", "x");
  write_file(roots.install + "zulu/terrain.hf.gz", "x");  // one track, not two
  write_file(roots.install + "zulu/desc", "alpha ridge\r\nsecond line");
  write_file(roots.install + "mike/terrain.hf.scram", "x");  // no desc: the folder names it
  write_file(roots.home + "echo/terrain.hf", "x");
  write_file(roots.home + "echo/desc", std::string(300, 'B') + "\n");
  write_file(roots.install + "notatrack/terrain.png", "x");
  write_file(roots.home + "demos/Race One.kvdemo", "d");
  write_file(roots.home + "demos/old.kvdemo.bak", "d");
  write_file(roots.home + "other/x.kvdemo", "d");

  TrackList list{};
  track_list_build(&list, 0);
  ASSERT_EQ(list.track_count, 3);
  EXPECT_STREQ(list.tracks[0].folder, "zulu");
  EXPECT_STREQ(list.tracks[0].name, "alpha ridge");
  EXPECT_EQ(std::string(list.tracks[1].name), std::string(255, 'B'));  // cut at 255 characters
  EXPECT_STREQ(list.tracks[2].name, "mike");
  EXPECT_EQ(list.selected, 0);
  track_list_select(&list, "mike");
  EXPECT_EQ(list.selected, 2);
  track_list_select(&list, "MIKE");  // folder names match exactly
  EXPECT_EQ(list.selected, 2);
  track_list_select(&list, "nowhere");
  EXPECT_EQ(list.selected, 2);

  ASSERT_EQ(list.demo_count, 1);
  EXPECT_STREQ(list.demos[0].file, "demos/Race One.kvdemo");
  EXPECT_STREQ(list.demos[0].name, "Race One");
  track_list_free(&list);
  EXPECT_EQ(list.track_count, 0);
}

}  // namespace
