#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "media/ff_load.h"
#include "media/ff_log.h"
#include "media/ffapi.h"
#include "support/temp_dir.h"

namespace trelvix::media {
namespace {

namespace fs = std::filesystem;

bool ProcessMaps(const std::string& needle) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find(needle) != std::string::npos) return true;
  return false;
}

// Restores the loader's path and names after each test.
class LoaderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    FFLoader().SetLibraryPath("");
    for (TLibrary lib : {avDevice, swScale, lbSDL}) {
      FFLoader().Unload(lib);
      FFLoader().SetLibraryFileName(lib, "");
    }
  }
  // A LibAV folder holding copies of the given stand-in libraries.
  std::string MakeLibAV(const std::vector<std::string>& fakes) {
    const fs::path dir = tmp_.path() / "LibAV";
    fs::create_directories(dir);
    for (const std::string& f : fakes) {
      const fs::path src = fs::path(TRELVIX_FAKE_LIB_DIR) / f;
      fs::copy_file(src, dir / src.filename());
    }
    return dir.string();
  }
  test::TempDir tmp_;
};

TEST_F(LoaderTest, ComposesFileNamesFromTheHeaderVersions) {
  EXPECT_EQ(FFLoader().FileName(avCodec),
            "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR));
  EXPECT_EQ(FFLoader().FileName(swResample),
            "libswresample.so." + std::to_string(LIBSWRESAMPLE_VERSION_MAJOR));
  EXPECT_EQ(FFLoader().FileName(lbSDL), "libSDL2-2.0.so.0");
  EXPECT_EQ(FFLoader().FileName(myUtil), "");
}

TEST_F(LoaderTest, LoadsTheRealLibrariesAndBindsTheirSlots) {
  ASSERT_TRUE(FFLoader().Load(kPlayerLibraries)) << FFLoader().LastErrMsg();
  EXPECT_TRUE(FFLoader().Loaded(kPlayerLibraries));
  EXPECT_TRUE(FFLoader().Loaded(myUtil));
  EXPECT_EQ(ff::avcodec_version() >> 16, static_cast<unsigned>(LIBAVCODEC_VERSION_MAJOR));
  EXPECT_NE(ff::avcodec_find_encoder_by_name("libx264"), nullptr);
  // Loading again is idempotent while bound.
  EXPECT_TRUE(FFLoader().Load(avCodec));
}

TEST_F(LoaderTest, EmptySetIsLoaded) {
  EXPECT_TRUE(FFLoader().Loaded(TLibraries{}));
}

TEST_F(LoaderTest, MissingLibraryReportsItsPathAndStaysUnloaded) {
  const std::string dir = MakeLibAV({});
  FFLoader().SetLibraryPath(dir);  // no trailing delimiter
  FFLoader().SetLibraryFileName(avDevice, "libtrelvix-missing.so.7");
  EXPECT_FALSE(FFLoader().Load(avDevice));
  EXPECT_FALSE(FFLoader().Loaded(avDevice));
  const std::string msg = FFLoader().LastErrMsg();
  EXPECT_EQ(msg.rfind("Load library " + dir + "/libtrelvix-missing.so.7 error: ", 0), 0u) << msg;
  EXPECT_NE(msg.find("libtrelvix-missing.so.7: cannot open shared object file"), std::string::npos);
}

TEST_F(LoaderTest, LibraryWithoutARequiredEntryPointIsFreedAgain) {
  const std::string dir = MakeLibAV({"missing_symbol/" + FFLoader().FileName(swScale)});
  FFLoader().Unload(swScale);
  FFLoader().SetLibraryPath(dir + "/");
  EXPECT_FALSE(FFLoader().Load(swScale));
  EXPECT_FALSE(FFLoader().Loaded(swScale));
  const std::string file = FFLoader().FileName(swScale);
  // swscale_version exists in the stand-in; the next entry point does not.
  const std::string expected = "Load function sws_getContext@" + file + " error: ";
  EXPECT_EQ(FFLoader().LastErrMsg().rfind(expected, 0), 0u) << FFLoader().LastErrMsg();
  EXPECT_NE(FFLoader().LastErrMsg().find("undefined symbol: sws_getContext"), std::string::npos);
  EXPECT_FALSE(ProcessMaps(dir)) << "the stand-in library is still mapped";
  EXPECT_FALSE(ff::sws_getContext);
  EXPECT_FALSE(ff::swscale_version) << "a slot filled before the failure points into freed code";
  // The real one loads again by bare name once the folder no longer has it.
  FFLoader().SetLibraryPath("");
  EXPECT_TRUE(FFLoader().Load(swScale)) << FFLoader().LastErrMsg();
  // The earlier failure text stays.
  EXPECT_EQ(FFLoader().LastErrMsg().rfind(expected, 0), 0u);
}

// The utility library's logging slots are filled before a later entry point is found missing.
// The library is freed; the logger must not take the slots for bound and call into it.
TEST_F(LoaderTest, FailedBindingClearsTheSlotsItFilledAndTheLoggerOnlyStoresItsLevel) {
  const std::string dir = MakeLibAV({"missing_symbol/" + FFLoader().FileName(avUtil)});
  FFLoader().Unload(avUtil);
  FFLoader().SetLibraryPath(dir + "/");
  EXPECT_FALSE(FFLoader().Load(avUtil));
  EXPECT_NE(FFLoader().LastErrMsg().find("av_log@"), std::string::npos) << FFLoader().LastErrMsg();
  EXPECT_FALSE(ProcessMaps(dir)) << "the stand-in library is still mapped";
  EXPECT_FALSE(ff::avutil_version);
  EXPECT_FALSE(ff::av_log_set_callback);
  EXPECT_FALSE(ff::av_log_set_level);
  EXPECT_FALSE(ff::av_log_get_level);
  TFFLogger& logger = TFFLogger::Current();
  const TLogLevel wanted = logger.LogLevel() == llWarning ? llError : llWarning;
  logger.SetLogLevel(wanted);  // with a stale slot: a call into unmapped code
  EXPECT_EQ(logger.LogLevel(), wanted);
  // The real library binds again by bare name and takes the stored level.
  FFLoader().SetLibraryPath("");
  ASSERT_TRUE(FFLoader().Load(avUtil)) << FFLoader().LastErrMsg();
  EXPECT_EQ(ff::av_log_get_level(), LogLevelToAV(wanted));
}

TEST_F(LoaderTest, LibraryInTheFolderIsTheOneLoadedWithItsDependencyFromThere) {
  const std::string dev = FFLoader().FileName(avDevice);
  const std::string dir = MakeLibAV({dev, "libtrelvixdep.so.1"});
  FFLoader().Unload(avDevice);
  FFLoader().SetLibraryPath(dir);
  ASSERT_TRUE(FFLoader().Load(avDevice)) << FFLoader().LastErrMsg();
  // The stand-in answers with its marker; its dependency resolved only because the loader
  // loaded it from the same folder first (it is on no search path).
  EXPECT_EQ(ff::avdevice_version(), 0xC0FFEEu);
  EXPECT_TRUE(ProcessMaps(dir + "/libtrelvixdep.so.1"));
  FFLoader().Unload(avDevice);
  EXPECT_FALSE(FFLoader().Loaded(avDevice));
  EXPECT_FALSE(ff::avdevice_version);
  // Loaded again, the same module answers.
  ASSERT_TRUE(FFLoader().Load(avDevice)) << FFLoader().LastErrMsg();
  EXPECT_EQ(ff::avdevice_version(), 0xC0FFEEu);
}

TEST_F(LoaderTest, LibraryAbsentFromTheFolderIsFoundThroughTheSystemSearch) {
  FFLoader().Unload(avDevice);
  FFLoader().SetLibraryPath(MakeLibAV({}));
  ASSERT_TRUE(FFLoader().Load(avDevice)) << FFLoader().LastErrMsg();
  EXPECT_EQ(ff::avdevice_version() >> 16, static_cast<unsigned>(LIBAVDEVICE_VERSION_MAJOR));
}

TEST_F(LoaderTest, FailedSetUnloadsEveryMemberIncludingEarlierLoads) {
  ASSERT_TRUE(FFLoader().Load(swScale));  // loaded by an earlier call
  FFLoader().SetLibraryFileName(lbSDL, "libtrelvix-missing-sdl.so.0");
  const TLibraries set{avDevice, swScale, lbSDL};  // the third member fails
  EXPECT_FALSE(FFLoader().Load(set));
  EXPECT_FALSE(FFLoader().Loaded(avDevice));
  EXPECT_FALSE(FFLoader().Loaded(swScale));
  EXPECT_FALSE(FFLoader().Loaded(lbSDL));
  EXPECT_NE(FFLoader().LastErrMsg().find("libtrelvix-missing-sdl.so.0"), std::string::npos);
}

}  // namespace
}  // namespace trelvix::media
