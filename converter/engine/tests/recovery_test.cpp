// Recovery copies: what they keep of a batch, how a damaged one is refused and kept aside,
// and when the keeper writes and removes its copy.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "converter/engine/document.h"
#include "converter/engine/exceptions.h"
#include "converter/engine/outputfiles.h"
#include "converter/engine/recovery.h"
#include "tests/support/testenv.h"

namespace tav {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The start of a movie the exporter has not closed yet: its header counts no frames (the
// 32-bit frame count at byte 48 is 0).
std::string UnclosedMovieHeader() {
  return std::string("RIFF") + std::string(4, '\0') + "AVI\x19" + "LIST" + std::string(4, '\0') + "hdrlavih" +
         std::string(4, '\0') + std::string(32, '\0');
}

CConvertOrder* AddEntry(CTavrionConverterDoc& doc, const std::string& folder, const std::string& title) {
  auto e = std::make_unique<CConvertOrder>();
  e->SetSourcePath(folder + "/" + title + ".avi");
  e->SetOutputPath(folder + "/[QVF]-" + title + ".qvf");
  return doc.AppendOrder(std::move(e));
}

// Makes the entry's output file, empty, as the run does when it starts it, and stamps the entry
// with it.
void StartOutput(CConvertOrder* e) {
  WriteAll(e->OutputPath().Full(), "");
  e->SetOutputStamp(StampOf(e->OutputPath().Full()));
}

// Three entries after a run that was cut short: the first converted, the second interrupted
// in its second part, the third failed; each with settings of its own.
void FillBatch(CTavrionConverterDoc& doc, const std::string& folder) {
  CConvertOrder* a = AddEntry(doc, folder, "a");
  a->SetFrameSize(640, 480);
  a->SetFrameRate(15.0);
  a->SetScreenFit(CConvertOrder::kStretch);
  a->SetTrimPoints(10000000, 50000000);
  a->SetFinished(true, 0);
  a->SetChecked(false);
  CConvertOrder* b = AddEntry(doc, folder, "b");
  b->SetSubtitlePath(folder + "/b.smi");
  b->SetSubtitleLanguage("ko-kr");
  b->SetSubtitleSize("9F0194EA-D60A-43d2-B994-CB0FDDE02C3E");
  b->SetFinished(false, 212000000);
  b->SetResumePoint(212000000, 2);
  b->SetOutputStamp(CConvertOrder::OutputStamp{2049, 918273, 4500000, 1765000000, 123456789});
  CConvertOrder* c = AddEntry(doc, folder, "c");
  c->SetUseSubtitles(false);
  c->SetFailed(E_FAIL, "no picture was converted");
  doc.SelectOnly(c);
  doc.AddToSelection(a);
  doc.SetFocused(a);
  doc.SetRemoveAfterConversion(false);
}

TEST(EngineRecovery, Copy_KeepsEveryEntrySettingAndState_AndOpensAsABatchFile) {
  const std::string dir = tavtest::MakeTempSubdir("recovery-roundtrip");
  CTavrionConverterDoc doc;
  FillBatch(doc, dir + "/movies");
  doc.SetPathName(dir + "/saved.tvc");
  const std::string bytes = EncodeRecoveryCopy(doc);

  CTavrionConverterDoc back;
  LoadRecoveredBatch(back, DecodeRecoveryCopy(bytes));
  ASSERT_EQ(back.GetCount(), 3u);
  EXPECT_EQ(back.GetPathName(), dir + "/saved.tvc");
  EXPECT_EQ(back.SaveToBytes(std::string()), doc.SaveToBytes(std::string())) << "settings or selection differ";
  const CConvertOrder* a = back.GetAt(0);
  EXPECT_EQ(a->GetStatusText(), "Converted");
  EXPECT_FALSE(a->IsChecked());
  EXPECT_EQ(back.GetAt(1)->GetStatusText(), "Interrupted at 00:21");
  EXPECT_EQ(back.GetAt(1)->GetResumePoint().at, 212000000);
  EXPECT_EQ(back.GetAt(1)->GetResumePoint().nextPart, 2);
  const CConvertOrder::OutputStamp stamp = back.GetAt(1)->GetOutputStamp();
  EXPECT_EQ(stamp.inode, 918273u);
  EXPECT_EQ(stamp.size, 4500000);
  EXPECT_EQ(stamp.changeNsec, 123456789);
  EXPECT_EQ(back.GetAt(2)->GetState(), CConvertOrder::kError);
  EXPECT_EQ(back.GetAt(2)->GetFailureReason(), "no picture was converted");
  EXPECT_EQ(back.GetSelection().size(), 2u);
  EXPECT_EQ(back.GetFocused(), back.GetAt(0));
  EXPECT_FALSE(back.GetRemoveAfterConversion());

  // The batch loader reads a copy as the batch it holds (with full paths).
  const std::string asBatch = dir + "/copy.tvc";
  WriteAll(asBatch, bytes);
  CTavrionConverterDoc opened;
  std::string error;
  ASSERT_TRUE(opened.OnOpenDocument(asBatch, &error)) << error;
  ASSERT_EQ(opened.GetCount(), 3u);
  EXPECT_EQ(opened.GetAt(1)->SubtitlePath().Full(), dir + "/movies/b.smi");
  EXPECT_EQ(opened.GetAt(0)->GetFrameWidth(), 640);
}

TEST(EngineRecovery, CopyCutAtAnyByteOrChanged_IsRefused_AndKeptAside) {
  const std::string dir = tavtest::MakeTempSubdir("recovery-cut");
  CTavrionConverterDoc doc;
  FillBatch(doc, dir);
  const std::string bytes = EncodeRecoveryCopy(doc);
  for (size_t n = 0; n < bytes.size(); ++n)
    EXPECT_THROW(DecodeRecoveryCopy(std::string_view(bytes).substr(0, n)), ArchiveException) << "cut at " << n;
  std::string flipped = bytes;
  flipped[bytes.size() / 3] ^= 0x10;
  EXPECT_THROW(DecodeRecoveryCopy(flipped), ArchiveException);

  // As found at start-up: refused with a reason, moved aside, not offered again.
  const std::string folder = dir + "/recovery";
  fs::create_directories(folder);
  const std::string copy = folder + "/batch-cut123.tvc";
  WriteAll(copy, bytes.substr(0, bytes.size() / 2));
  ASSERT_EQ(FindOrphanedCopies(folder), std::vector<std::string>{copy});
  std::string error;
  EXPECT_FALSE(ReadOrphanedCopy(copy, &error).has_value());
  EXPECT_NE(error.find(copy + ".damaged"), std::string::npos) << error;
  EXPECT_EQ(ReadAll(copy + ".damaged"), bytes.substr(0, bytes.size() / 2)) << "the damaged copy was not kept";
  EXPECT_TRUE(FindOrphanedCopies(folder).empty());
}

TEST(EngineRecovery, Keeper_WritesChangesAndStates_RemovesTheCopyOnSaveAndCleanExit) {
  const std::string dir = tavtest::MakeTempSubdir("recovery-keeper");
  const std::string folder = dir + "/recovery";
  CTavrionConverterDoc doc;
  auto keeper = std::make_unique<RecoveryKeeper>(doc, folder);
  keeper->Tick();
  EXPECT_TRUE(keeper->CopyPath().empty() || !fs::exists(keeper->CopyPath())) << "an empty new batch needs no copy";

  CConvertOrder* a = AddEntry(doc, dir, "a");
  keeper->Tick();
  ASSERT_FALSE(keeper->CopyPath().empty()) << keeper->LastError();
  const std::string copy = keeper->CopyPath();
  ASSERT_TRUE(fs::exists(copy));
  // A live program's copy is not an orphan.
  EXPECT_TRUE(FindOrphanedCopies(folder).empty());

  // A state change during a run is written at once, without waiting for the next tick.
  a->SetConverting();
  a->SetResumePoint(0, 1);
  doc.UpdateAllViews(DocumentHint::kEntryStateChanged, a);
  EXPECT_EQ(DecodeRecoveryCopy(ReadAll(copy)).states.at(0).state, CConvertOrder::kConverting);
  // The other notifications ask the owner for a check (the state's was written already).
  int asked = 0;
  keeper->SetChangeListener([&] { ++asked; });
  doc.UpdateAllViews(DocumentHint::kEntryStateChanged, a);
  EXPECT_EQ(asked, 0);
  doc.UpdateAllViews(DocumentHint::kReload);
  EXPECT_EQ(asked, 1);
  keeper->SetChangeListener(nullptr);

  std::string error;
  ASSERT_TRUE(doc.OnSaveDocument(dir + "/saved.tvc", &error)) << error;
  EXPECT_FALSE(fs::exists(copy)) << "an explicit save keeps no copy";
  keeper->Tick();
  EXPECT_FALSE(fs::exists(copy));
  a->SetFrameRate(15.0);
  keeper->Tick();
  EXPECT_TRUE(fs::exists(copy)) << "a change after the save was not copied";

  keeper.reset();
  EXPECT_FALSE(fs::exists(copy)) << "a clean exit keeps no copy";
  EXPECT_TRUE(fs::is_empty(folder)) << "the lock file stayed";

  // Kept on exit (an interrupted command-line run): the next start finds it.
  keeper = std::make_unique<RecoveryKeeper>(doc, folder);
  a->SetFrameRate(30.0);
  keeper->Tick();
  const std::string kept = keeper->CopyPath();
  keeper->KeepOnExit(true);
  keeper.reset();
  ASSERT_EQ(FindOrphanedCopies(folder), std::vector<std::string>{kept});
  const auto batch = ReadOrphanedCopy(kept, &error);
  ASSERT_TRUE(batch.has_value()) << error;
  EXPECT_EQ(batch->pathName, dir + "/saved.tvc");
  DiscardOrphanedCopy(kept);
  EXPECT_TRUE(fs::is_empty(folder));
}

// The program died while it wrote b's third part: parts 1 and 2 are finished, the third has
// no index (its header counts no frames yet).
TEST(EngineRecovery, EntryBeingConverted_BecomesInterruptedWhereItsFinishedPartsEnd) {
  const std::string dir = tavtest::MakeTempSubdir("recovery-crash");
  CTavrionConverterDoc doc;
  CConvertOrder* b = AddEntry(doc, dir, "b");
  b->SetConverting();
  b->SetResumePoint(300000000, 3);
  CConvertOrder* c = AddEntry(doc, dir, "c");
  c->SetConverting();
  c->SetResumePoint(0, 1);
  // The run created both movies before the copy said so.
  StartOutput(b);
  StartOutput(c);
  const std::string bytes = EncodeRecoveryCopy(doc);

  std::string header = UnclosedMovieHeader();
  WriteAll(dir + "/[QVF]-b.qvf", header);
  // c's movie was closed just before the end: it counts frames and stays.
  std::string closed = header;
  closed[48] = 90;
  WriteAll(dir + "/[QVF]-c.qvf", closed);

  CTavrionConverterDoc back;
  LoadRecoveredBatch(back, DecodeRecoveryCopy(bytes));
  EXPECT_EQ(back.GetAt(0)->GetStatusText(), "Interrupted at 00:30");
  EXPECT_TRUE(back.GetAt(0)->CanResume());
  EXPECT_FALSE(fs::exists(dir + "/[QVF]-b.qvf")) << "the unfinished part stayed";
  EXPECT_TRUE(fs::exists(dir + "/[QVF]-c.qvf")) << "a finished movie was removed";
  EXPECT_EQ(back.GetAt(1)->GetState(), CConvertOrder::kInterrupted);
  EXPECT_FALSE(back.GetAt(1)->CanResume());

  // Killed the moment a part began: the new file is empty, or its header cut short. It
  // goes too, rather than become an empty numbered part on resuming. (Each is a new file,
  // which the copy names by its own stamp: the file system need not give it the inode of
  // the one removed above.)
  for (const std::string& left : {std::string(), header.substr(0, 20)}) {
    WriteAll(dir + "/[QVF]-b.qvf", left);
    b->SetOutputStamp(StampOf(dir + "/[QVF]-b.qvf"));
    CTavrionConverterDoc again;
    LoadRecoveredBatch(again, DecodeRecoveryCopy(EncodeRecoveryCopy(doc)));
    EXPECT_FALSE(fs::exists(dir + "/[QVF]-b.qvf")) << "an unfinished part of " << left.size() << " bytes stayed";
    EXPECT_TRUE(again.GetAt(0)->CanResume());
  }
}

// The program died after it finished part 2 but before the copy said so: the part on disk
// counts, and the output goes on after it instead of repeating it.
TEST(EngineRecovery, FinishedPartsTheCopyDoesNotKnow_MoveTheResumePointOn) {
  const std::string dir = tavtest::MakeTempSubdir("recovery-lag");
  CTavrionConverterDoc doc;
  CConvertOrder* d = AddEntry(doc, dir, "d");
  d->SetFrameRate(30);
  d->SetConverting();
  d->SetResumePoint(300000000, 2);
  StartOutput(d);
  const std::string bytes = EncodeRecoveryCopy(doc);

  std::string header = UnclosedMovieHeader();
  WriteAll(dir + "/[QVF]-d.qvf", header);
  std::string finished = header;
  finished[48] = 90;  // 3 s at 30 fps
  WriteAll(dir + "/[QVF]-d0001.qvf", finished);
  WriteAll(dir + "/[QVF]-d0002.qvf", finished);

  CTavrionConverterDoc back;
  LoadRecoveredBatch(back, DecodeRecoveryCopy(bytes));
  EXPECT_EQ(back.GetAt(0)->GetStatusText(), "Interrupted at 00:33");
  EXPECT_EQ(back.GetAt(0)->GetResumePoint().at, 330000000);
  EXPECT_EQ(back.GetAt(0)->GetResumePoint().nextPart, 3);
}

// Killed between two parts of a split movie: the part is whole but not numbered yet, or it
// is numbered and the next one is created but still empty and unknown to the copy. Either
// way the output goes on after the part, and only the empty file goes.
TEST(EngineRecovery, KilledBetweenParts_TheWholePartCounts_TheEmptyNextOneGoes) {
  const std::string dir = tavtest::MakeTempSubdir("recovery-seam");
  CTavrionConverterDoc doc;
  CConvertOrder* whole = AddEntry(doc, dir, "whole");
  CConvertOrder* next = AddEntry(doc, dir, "next");
  for (CConvertOrder* e : {whole, next}) {
    e->SetSourceInfo(REFERENCE_TIME(60) * 10000000, 160, 120, true);
    e->SetSplitSize(200000);
    e->SetFrameRate(30);
    e->SetConverting();
  }
  whole->SetResumePoint(300000000, 3);
  next->SetResumePoint(300000000, 2);
  StartOutput(whole);
  StartOutput(next);
  const std::string bytes = EncodeRecoveryCopy(doc);

  std::string finished = UnclosedMovieHeader();
  finished[48] = 90;  // 3 s at 30 fps
  WriteAll(dir + "/[QVF]-whole.qvf", finished);
  WriteAll(dir + "/[QVF]-next.qvf", finished);
  fs::rename(dir + "/[QVF]-next.qvf", dir + "/[QVF]-next0002.qvf");
  WriteAll(dir + "/[QVF]-next.qvf", "");

  CTavrionConverterDoc back;
  LoadRecoveredBatch(back, DecodeRecoveryCopy(bytes));
  EXPECT_EQ(ReadAll(dir + "/[QVF]-whole.qvf"), finished) << "the whole part is the resume's to number";
  EXPECT_EQ(back.GetAt(0)->GetResumePoint().at, 330000000);
  EXPECT_EQ(back.GetAt(0)->GetResumePoint().nextPart, 3);
  EXPECT_TRUE(back.GetAt(0)->CanResume());
  EXPECT_FALSE(fs::exists(dir + "/[QVF]-next.qvf")) << "the empty next part stayed";
  EXPECT_EQ(back.GetAt(1)->GetResumePoint().at, 330000000);
  EXPECT_EQ(back.GetAt(1)->GetResumePoint().nextPart, 3);
  EXPECT_TRUE(back.GetAt(1)->CanResume());
}

// A copy edited by hand (or by another program) names files this program never wrote: an
// entry "being converted" into an existing movie must not remove it, whatever its header
// says; the entry converts from its start instead.
TEST(EngineRecovery, OutputThisProgramDidNotWrite_IsNeverRemoved) {
  const std::string dir = tavtest::MakeTempSubdir("recovery-foreign");
  const std::string header = UnclosedMovieHeader();
  CTavrionConverterDoc doc;
  CConvertOrder* edited = AddEntry(doc, dir, "holiday");  // no stamp: the copy never knew this file
  edited->SetConverting();
  edited->SetResumePoint(300000000, 3);
  CConvertOrder* replaced = AddEntry(doc, dir, "beach");  // stamped, then replaced by another file
  replaced->SetConverting();
  replaced->SetResumePoint(300000000, 2);
  StartOutput(replaced);
  const std::string bytes = EncodeRecoveryCopy(doc);

  WriteAll(dir + "/[QVF]-holiday.qvf", header);
  WriteAll(dir + "/other.qvf", header);
  fs::rename(dir + "/other.qvf", dir + "/[QVF]-beach.qvf");

  CTavrionConverterDoc back;
  LoadRecoveredBatch(back, DecodeRecoveryCopy(bytes));
  EXPECT_EQ(ReadAll(dir + "/[QVF]-holiday.qvf"), header);
  EXPECT_EQ(ReadAll(dir + "/[QVF]-beach.qvf"), header);
  for (size_t i = 0; i < back.GetCount(); ++i) {
    EXPECT_EQ(back.GetAt(i)->GetState(), CConvertOrder::kInterrupted);
    EXPECT_FALSE(back.GetAt(i)->CanResume()) << i << ": it would go on from a movie that is not its own";
  }
}

// kill -9 while a copy was being written leaves its temporary file; the next program that
// keeps a copy removes it, but never the one a live program is writing.
TEST(EngineRecovery, TemporaryFilesOfKilledPrograms_GoAtTheNextStart) {
  const std::string dir = tavtest::MakeTempSubdir("recovery-temp");
  WriteAll(dir + "/batch-AAAAAA.tvc.Zq81xP", "half a copy");
  WriteAll(dir + "/batch-AAAAAA.lock", "");
  WriteAll(dir + "/batch-BBBBBB.tvc.k2LmQ0", "being written");
  WriteAll(dir + "/batch-BBBBBB.lock", "");
  WriteAll(dir + "/batch-CCCCCC.tvc", "a whole copy");
  WriteAll(dir + "/notes.tvc.Zq81xP", "not ours");
  const int live = ::open((dir + "/batch-BBBBBB.lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(live, 0);
  ASSERT_EQ(::flock(live, LOCK_EX | LOCK_NB), 0);
  {
    CTavrionConverterDoc doc;
    RecoveryKeeper keeper(doc, dir);
  }
  EXPECT_FALSE(fs::exists(dir + "/batch-AAAAAA.tvc.Zq81xP"));
  EXPECT_TRUE(fs::exists(dir + "/batch-BBBBBB.tvc.k2LmQ0")) << "a live program's copy in the making";
  EXPECT_TRUE(fs::exists(dir + "/batch-CCCCCC.tvc"));
  EXPECT_TRUE(fs::exists(dir + "/notes.tvc.Zq81xP"));
  ::close(live);
}

// Copies written before entries carried their output stamps still restore.
TEST(EngineRecovery, CopyOfTheFirstVersion_StillRestores) {
  const std::string dir = tavtest::MakeTempSubdir("recovery-v1");
  CTavrionConverterDoc doc;
  FillBatch(doc, dir);
  std::string v1 = doc.SaveToBytes(std::string());
  const uint64_t batchLength = v1.size();
  auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) v1.push_back(char(v >> (8 * i))); };
  auto u64 = [&](uint64_t v) { for (int i = 0; i < 8; ++i) v1.push_back(char(v >> (8 * i))); };
  v1 += "TVCSTATE";
  u32(1);
  u32(0);  // no batch file
  u32(uint32_t(doc.GetCount()));
  for (size_t i = 0; i < doc.GetCount(); ++i) {
    const CConvertOrder* e = doc.GetAt(i);
    u32(uint32_t(e->GetState()));
    u64(uint64_t(e->GetInterruptedAt()));
    u32(uint32_t(e->GetResultCode()));
    u32(uint32_t(e->GetFailureReason().size()));
    v1 += e->GetFailureReason();
    u64(uint64_t(e->GetResumePoint().at));
    u32(uint32_t(e->GetResumePoint().nextPart));
  }
  u64(batchLength);
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : v1) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  u32(crc ^ 0xFFFFFFFFu);
  v1 += "TVCRECOV";

  CTavrionConverterDoc back;
  LoadRecoveredBatch(back, DecodeRecoveryCopy(v1));
  ASSERT_EQ(back.GetCount(), 3u);
  EXPECT_EQ(back.GetAt(1)->GetStatusText(), "Interrupted at 00:21");
  EXPECT_EQ(back.GetAt(1)->GetResumePoint().nextPart, 2);
  EXPECT_FALSE(back.GetAt(1)->GetOutputStamp().IsSet());
  EXPECT_EQ(back.GetAt(2)->GetStatusText(), doc.GetAt(2)->GetStatusText());
}

TEST(EngineRecovery, CanResume_OnlyWithSomethingLeftToConvert) {
  CConvertOrder e;
  EXPECT_FALSE(e.CanResume());
  e.SetResumePoint(100000000, 1);
  EXPECT_TRUE(e.CanResume());
  e.SetSourceInfo(100000000, 320, 240, true);
  EXPECT_FALSE(e.CanResume()) << "the resume point is the end of the movie";
  e.SetTrimPoints(50000000, 200000000);
  EXPECT_TRUE(e.CanResume());
  e.SetResumePoint(50000000, 2);
  EXPECT_FALSE(e.CanResume()) << "nothing was written after the start point";
  e.SetResumePoint(200000000, 2);
  EXPECT_FALSE(e.CanResume()) << "the resume point is the end point";
}

}  // namespace
}  // namespace tav
