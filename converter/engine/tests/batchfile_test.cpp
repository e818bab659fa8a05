// The batch file: byte layout against a file written out by hand, round trips, path
// handling, and the reader's behaviour on truncated and malformed input.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "converter/engine/document.h"
#include "converter/engine/exceptions.h"
#include "tests/support/testenv.h"

namespace tav {
namespace {

using Bytes = std::vector<unsigned char>;

// Builders for hand-written archives: each appends exactly the bytes named.
void Put(Bytes& b, std::initializer_list<int> bytes) {
  for (int v : bytes) b.push_back(static_cast<unsigned char>(v));
}
void PutText(Bytes& b, const char* text) {
  for (const char* p = text; *p; ++p) b.push_back(static_cast<unsigned char>(*p));
}
void PutUtf16(Bytes& b, const std::u16string& text) {
  for (char16_t c : text) Put(b, {c & 0xFF, c >> 8});
}
// A one-entry batch up to the entry's fields: count 1, a new class tag, schema 1, the class name.
void PutOneEntryStart(Bytes& b) {
  Put(b, {0x01, 0x00, 0xFF, 0xFF, 0x01, 0x00, 0x0D, 0x00});
  PutText(b, "CConvertOrder");
}
// The entry's points and frame: no start or end point, 320 x 240 at 30 fps, fit, no split.
void PutNoPointsFrame320x240(Bytes& b) {
  for (int i = 0; i < 16; ++i) Put(b, {0xFF});
  Put(b, {0x40, 0x01, 0, 0, 0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x3E, 0x40, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
}
std::string AsString(const Bytes& b) { return std::string(b.begin(), b.end()); }

constexpr const char* kStdSize = "A551CAEA-E6D4-4e47-8422-9128EEEE0D46";
constexpr const char* kBigSize = "9F0194EA-D60A-43d2-B994-CB0FDDE02C3E";

// A batch saved as /b/batch.tvc: three entries, the third and the first selected (in that
// order), the first focused, remove-after-conversion on. Written from the format
// description, byte by byte.
Bytes GoldenBatch() {
  Bytes b;
  Put(b, {0x03, 0x00});  // entries: count 3

  // entry 1: new class (index 1), object index 2
  Put(b, {0xFF, 0xFF});  // new class tag
  Put(b, {0x01, 0x00});  // schema 1
  Put(b, {0x0D, 0x00});  // name length 13
  PutText(b, "CConvertOrder");
  Put(b, {0x01});                    // checked
  Put(b, {0x00});                    // useSubtitles
  Put(b, {0x05}), PutText(b, "a.avi");  // source /b/a.avi, relative
  Put(b, {0x00});                    // subtitle: empty
  Put(b, {0x0B}), PutText(b, "[QVF]-a.qvf");  // output /b/[QVF]-a.qvf
  Put(b, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});  // startPoint -1
  Put(b, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});  // endPoint -1
  Put(b, {0x40, 0x01, 0x00, 0x00});  // frameWidth 320
  Put(b, {0xF0, 0x00, 0x00, 0x00});  // frameHeight 240
  Put(b, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3E, 0x40});  // frameRate 30.0
  Put(b, {0x02, 0x00, 0x00, 0x00});  // screenFit 2 (Fit)
  Put(b, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});  // splitSize 0
  Put(b, {0x24}), PutText(b, kStdSize);  // subtitleSize (36 characters)
  Put(b, {0x05}), PutText(b, "en-us");   // subtitleLanguage

  // entry 2: known class 1, object index 3
  Put(b, {0x01, 0x80});
  Put(b, {0x00});                        // checked: no
  Put(b, {0x01});                        // useSubtitles
  Put(b, {0x09}), PutText(b, "sub/c.mp4");  // source /b/sub/c.mp4
  Put(b, {0x09}), PutText(b, "sub/c.smi");  // subtitle /b/sub/c.smi
  Put(b, {0x0A}), PutText(b, "/out/c.qvf"); // output outside the batch folder: in full
  Put(b, {0x00, 0xE1, 0xF5, 0x05, 0x00, 0x00, 0x00, 0x00});  // startPoint 10 s
  Put(b, {0x00, 0xC2, 0xEB, 0x0B, 0x00, 0x00, 0x00, 0x00});  // endPoint 20 s
  Put(b, {0x80, 0x02, 0x00, 0x00});  // frameWidth 640
  Put(b, {0xE0, 0x01, 0x00, 0x00});  // frameHeight 480
  Put(b, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2E, 0x40});  // frameRate 15.0
  Put(b, {0x03, 0x00, 0x00, 0x00});  // screenFit 3 (Crop)
  Put(b, {0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00});  // splitSize 32 M
  Put(b, {0x24}), PutText(b, kBigSize);
  Put(b, {0x02}), PutText(b, "ko");

  // entry 3: known class 1, object index 4
  Put(b, {0x01, 0x80});
  Put(b, {0x01});                       // checked
  Put(b, {0x00});                       // useSubtitles
  Put(b, {0x08}), PutText(b, "/x/d.wmv");  // source in another folder: in full
  Put(b, {0x00});                       // subtitle: empty
  Put(b, {0x05}), PutText(b, "d.qvf");     // output /b/d.qvf
  Put(b, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  Put(b, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  Put(b, {0x40, 0x01, 0x00, 0x00});
  Put(b, {0xF0, 0x00, 0x00, 0x00});
  Put(b, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3E, 0x40});
  Put(b, {0x00, 0x00, 0x00, 0x00});  // screenFit 0 (Stretch)
  Put(b, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  Put(b, {0x24}), PutText(b, kStdSize);
  Put(b, {0x05}), PutText(b, "en-us");

  Put(b, {0x02, 0x00});  // selection: count 2
  Put(b, {0x04, 0x00});  //   entry 3 (object index 4)
  Put(b, {0x02, 0x00});  //   entry 1 (object index 2)
  Put(b, {0x02, 0x00});  // focused: entry 1
  Put(b, {0x01, 0x00, 0x00, 0x00});  // removeAfterConversion 1
  return b;
}

// The same batch, built through the document's operations.
void BuildGoldenDocument(CTavrionConverterDoc& doc) {
  auto e1 = std::make_unique<CConvertOrder>();
  e1->SetUseSubtitles(false);
  e1->SetSourcePath("/b/a.avi");
  e1->SetOutputPath("/b/[QVF]-a.qvf");
  auto e2 = std::make_unique<CConvertOrder>();
  e2->SetChecked(false);
  e2->SetSourcePath("/b/sub/c.mp4");
  e2->SetSubtitlePath("/b/sub/c.smi");
  e2->SetOutputPath("/out/c.qvf");
  e2->SetTrimPoints(100000000, 200000000);
  e2->SetFrameSize(640, 480);
  e2->SetFrameRate(15.0);
  e2->SetSourceInfo(kUnknownTime, 0, 0, true);  // seekable, not 4:3: the setters store as given
  e2->SetScreenFit(3);
  e2->SetSplitSize(33554432);
  e2->SetSubtitleSize(kBigSize);
  e2->SetSubtitleLanguage("ko");
  auto e3 = std::make_unique<CConvertOrder>();
  e3->SetUseSubtitles(false);
  e3->SetSourcePath("/x/d.wmv");
  e3->SetOutputPath("/b/d.qvf");
  e3->SetScreenFit(0);
  CConvertOrder* first = doc.AppendOrder(std::move(e1));
  doc.AppendOrder(std::move(e2));
  CConvertOrder* third = doc.AppendOrder(std::move(e3));
  doc.Select(third);
  doc.AddToSelection(first);
  doc.SetFocused(first);
  doc.SetRemoveAfterConversion(true);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(EngineBatchFile, Save_MatchesHandWrittenBytes) {
  CTavrionConverterDoc doc;
  BuildGoldenDocument(doc);
  const std::string bytes = doc.SaveToBytes("/b/batch.tvc");
  const Bytes golden = GoldenBatch();
  ASSERT_EQ(bytes.size(), golden.size());
  for (size_t i = 0; i < golden.size(); ++i)
    ASSERT_EQ(static_cast<unsigned char>(bytes[i]), golden[i]) << "at byte " << i;
}

TEST(EngineBatchFile, Load_HandWrittenBytes_RestoresEveryField) {
  CTavrionConverterDoc doc;
  doc.LoadFromBytes(AsString(GoldenBatch()), "/b/batch.tvc");
  ASSERT_EQ(doc.GetCount(), 3u);
  CConvertOrder* e1 = doc.GetAt(0);
  CConvertOrder* e2 = doc.GetAt(1);
  CConvertOrder* e3 = doc.GetAt(2);
  EXPECT_TRUE(e1->IsChecked());
  EXPECT_FALSE(e1->UsesSubtitles());
  EXPECT_EQ(e1->SourcePath().Full(), "/b/a.avi");
  EXPECT_EQ(e1->SubtitlePath().Full(), "");
  EXPECT_EQ(e1->OutputPath().Full(), "/b/[QVF]-a.qvf");
  EXPECT_FALSE(e1->GetTrimPoints(nullptr, nullptr));

  EXPECT_FALSE(e2->IsChecked());
  EXPECT_EQ(e2->SourcePath().Full(), "/b/sub/c.mp4");
  EXPECT_EQ(e2->SubtitlePath().Full(), "/b/sub/c.smi");
  EXPECT_EQ(e2->OutputPath().Full(), "/out/c.qvf");
  REFERENCE_TIME start = 0, end = 0;
  EXPECT_TRUE(e2->GetTrimPoints(&start, &end));
  EXPECT_EQ(start, 100000000);
  EXPECT_EQ(end, 200000000);
  EXPECT_EQ(e2->GetFrameWidth(), 640);
  EXPECT_EQ(e2->GetFrameHeight(), 480);
  EXPECT_EQ(e2->GetFrameRate(), 15.0);
  EXPECT_EQ(e2->GetScreenFit(), 3);
  EXPECT_EQ(e2->GetSubtitleSize(), kBigSize);
  EXPECT_EQ(e2->GetSubtitleLanguage(), "ko");
  // A loaded entry starts Ready, unprobed: not seekable, so the stored split reads as 0
  // until a probe says otherwise.
  EXPECT_EQ(e2->GetSplitSize(), 0u);
  e2->SetSourceInfo(kUnknownTime, 0, 0, true);
  EXPECT_EQ(e2->GetSplitSize(), 33554432u);
  EXPECT_EQ(e2->GetState(), CConvertOrder::kReady);
  EXPECT_EQ(e2->GetDuration(), kUnknownTime);

  EXPECT_EQ(e3->SourcePath().Full(), "/x/d.wmv");
  EXPECT_EQ(e3->OutputPath().Full(), "/b/d.qvf");
  EXPECT_EQ(e3->GetScreenFit(), 0);

  ASSERT_EQ(doc.GetSelection().size(), 2u);
  EXPECT_EQ(doc.GetSelection()[0], e3);
  EXPECT_EQ(doc.GetSelection()[1], e1);
  EXPECT_EQ(doc.GetFocused(), e1);
  EXPECT_TRUE(doc.GetRemoveAfterConversion());
}

TEST(EngineBatchFile, Load_StoredValuesBypassTheAccessorRules) {
  // A 4:3 source reports Fit whatever is stored; the stored Crop survives a save.
  CTavrionConverterDoc doc;
  doc.LoadFromBytes(AsString(GoldenBatch()), "/b/batch.tvc");
  CConvertOrder* e2 = doc.GetAt(1);
  e2->SetSourceInfo(kUnknownTime, 640, 480, false);
  EXPECT_EQ(e2->GetScreenFit(), 2);
  EXPECT_EQ(e2->GetSplitSize(), 0u);
  const Bytes golden = GoldenBatch();
  EXPECT_EQ(doc.SaveToBytes("/b/batch.tvc"), AsString(golden));
}

TEST(EngineBatchFile, Load_EveryTruncation_FailsAndLeavesDocumentUntouched) {
  const std::string golden = AsString(GoldenBatch());
  for (size_t n = 0; n < golden.size(); ++n) {
    CTavrionConverterDoc doc;
    auto keep = std::make_unique<CConvertOrder>();
    keep->SetSourcePath("/keep/me.avi");
    doc.AppendOrder(std::move(keep));
    EXPECT_THROW(doc.LoadFromBytes(std::string_view(golden.data(), n), "/b/batch.tvc"), ArchiveException)
        << "truncated at " << n;
    ASSERT_EQ(doc.GetCount(), 1u);
    EXPECT_EQ(doc.GetAt(0)->SourcePath().Full(), "/keep/me.avi");
  }
}

TEST(EngineBatchFile, Open_TruncatedFile_ReportsAndStaysEmpty) {
  const std::string golden = AsString(GoldenBatch());
  const std::string dir = tavtest::MakeTempSubdir("truncated");
  const std::string path = dir + "/batch.tvc";
  for (size_t n = 0; n < golden.size(); n += 7) {
    WriteFile(path, golden.substr(0, n));
    CTavrionConverterDoc doc;
    doc.AddOrder(dir + "/old.avi");
    std::string error;
    EXPECT_FALSE(doc.OnOpenDocument(path, &error)) << n;
    EXPECT_EQ(doc.GetCount(), 0u);
    EXPECT_TRUE(doc.GetSelection().empty());
    EXPECT_EQ(doc.GetFocused(), nullptr);
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find("byte"), std::string::npos) << error;
  }
}

TEST(EngineBatchFile, Load_MalformedReferences_AreArchiveErrors) {
  const Bytes golden = GoldenBatch();
  const auto expectCause = [](const Bytes& bytes, ArchiveException::Cause cause, const char* what) {
    CTavrionConverterDoc doc;
    try {
      doc.LoadFromBytes(AsString(bytes), "/b/batch.tvc");
      ADD_FAILURE() << what << ": loaded";
    } catch (const ArchiveException& e) {
      EXPECT_EQ(e.GetCause(), cause) << what;
    }
    EXPECT_EQ(doc.GetCount(), 0u) << what;
  };
  const size_t selectionAt = golden.size() - 12;  // the selection count
  ASSERT_EQ(golden[selectionAt], 0x02);

  Bytes unknownIndex = golden;
  unknownIndex[selectionAt + 2] = 0x05;  // object index 5 was never read
  expectCause(unknownIndex, ArchiveException::Cause::kBadIndex, "unknown object");

  Bytes classAsObject = golden;
  classAsObject[selectionAt + 2] = 0x01;  // index 1 is the class
  expectCause(classAsObject, ArchiveException::Cause::kBadIndex, "class used as object");

  Bytes unknownClass = golden;
  unknownClass[8] = 'X';  // "CConXertOrder"
  expectCause(unknownClass, ArchiveException::Cause::kBadClass, "unknown class");

  Bytes longName;
  Put(longName, {0x01, 0x00, 0xFF, 0xFF, 0x01, 0x00, 0x40, 0x00});  // name length 64
  for (int i = 0; i < 64; ++i) longName.push_back('C');
  expectCause(longName, ArchiveException::Cause::kBadClass, "over-long class name");

  Bytes unknownClassIndex = golden;
  unknownClassIndex[2] = 0x02;  // first entry as "class 2" before any class
  unknownClassIndex[3] = 0x80;
  expectCause(unknownClassIndex, ArchiveException::Cause::kBadIndex, "unknown class index");

  // An entry listed twice in the entries would be owned twice.
  Bytes twice;
  Put(twice, {0x02, 0x00});
  constexpr size_t kFirstEntryBytes = 6 + 13 + 2 + 6 + 1 + 12 + 16 + 8 + 8 + 4 + 8 + 37 + 6;
  twice.insert(twice.end(), golden.begin() + 2, golden.begin() + 2 + kFirstEntryBytes);
  ASSERT_EQ(golden[2 + kFirstEntryBytes], 0x01);  // the second entry's class tag follows
  ASSERT_EQ(golden[3 + kFirstEntryBytes], 0x80);
  Put(twice, {0x02, 0x00});                          // entry 1 again, as a reference
  Put(twice, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  expectCause(twice, ArchiveException::Cause::kBadFormat, "entry listed twice");

  // The selection may only refer to entries; a new object there is refused.
  Bytes newInSelection;
  Put(newInSelection, {0x00, 0x00});  // no entries
  Put(newInSelection, {0x01, 0x00});  // one selected ...
  newInSelection.insert(newInSelection.end(), golden.begin() + 2, golden.end() - 12);  // ... a new object
  Put(newInSelection, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  expectCause(newInSelection, ArchiveException::Cause::kBadFormat, "new object in selection");

  // A string that claims more bytes than the file has.
  Bytes longString = golden;
  longString[2 + 2 + 2 + 2 + 13 + 2] = 0xFF;  // source length: 0xFF + 16-bit 0xFFFD
  longString.insert(longString.begin() + 2 + 2 + 2 + 2 + 13 + 2 + 1, {0xFD, 0xFF});
  expectCause(longString, ArchiveException::Cause::kEndOfFile, "string past the end");

  Bytes hugeString;
  PutOneEntryStart(hugeString);
  Put(hugeString, {0x01, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});  // 32-bit length 0x7FFFFFFF
  expectCause(hugeString, ArchiveException::Cause::kEndOfFile, "32-bit length past the end");

  Bytes count;
  Put(count, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});  // 4,294,967,295 entries announced
  expectCause(count, ArchiveException::Cause::kEndOfFile, "huge count");
}

TEST(EngineBatchFile, RoundTrip_EmptyBatch) {
  CTavrionConverterDoc doc;
  doc.SetRemoveAfterConversion(false);
  const std::string bytes = doc.SaveToBytes("/b/batch.tvc");
  // count 0, selection count 0, null focused, flag 0
  EXPECT_EQ(bytes, std::string("\0\0\0\0\0\0\0\0\0\0", 10));
  CTavrionConverterDoc back;
  back.LoadFromBytes(bytes, "/b/batch.tvc");
  EXPECT_EQ(back.GetCount(), 0u);
  EXPECT_FALSE(back.GetRemoveAfterConversion());
}

TEST(EngineBatchFile, RoundTrip_OneEntryWithoutSelection) {
  CTavrionConverterDoc doc;
  auto entry = std::make_unique<CConvertOrder>();
  entry->SetSourcePath("/m/clip.avi");
  entry->SetOutputPath("/m/[QVF]-clip.qvf");
  entry->SetFrameRate(29.97);
  doc.AppendOrder(std::move(entry));
  const std::string bytes = doc.SaveToBytes("/elsewhere/batch.tvc");
  CTavrionConverterDoc back;
  back.LoadFromBytes(bytes, "/elsewhere/batch.tvc");
  ASSERT_EQ(back.GetCount(), 1u);
  EXPECT_EQ(back.GetAt(0)->SourcePath().Full(), "/m/clip.avi");
  EXPECT_EQ(back.GetAt(0)->GetFrameRate(), 29.97);
  EXPECT_TRUE(back.GetSelection().empty());
  EXPECT_EQ(back.GetFocused(), nullptr);
  EXPECT_EQ(back.SaveToBytes("/elsewhere/batch.tvc"), bytes);
}

TEST(EngineBatchFile, RoundTrip_70000Entries_UsesTheCountEscapeAndBigIndexes) {
  constexpr size_t kCount = 70000;
  CTavrionConverterDoc doc;
  for (size_t i = 0; i < kCount; ++i) {
    auto entry = std::make_unique<CConvertOrder>();
    entry->SetSourcePath("/m/clip" + std::to_string(i) + ".avi");
    doc.AppendOrder(std::move(entry));
  }
  CConvertOrder* last = doc.GetAt(kCount - 1);
  doc.Select(last);
  doc.Select(doc.GetAt(5));
  doc.SetFocused(last);
  const std::string bytes = doc.SaveToBytes("/m/batch.tvc");
  // 0xFFFF then the 32-bit count 70000 (0x00011170)
  EXPECT_EQ(bytes.substr(0, 6), std::string("\xFF\xFF\x70\x11\x01\x00", 6));
  // The tail: selection count 2; the last entry (object index 70001 = 0x11171) as a big
  // reference; entry 6 (index 7); the focused last entry again; the flag.
  const std::string tail("\x02\x00"
                         "\xFF\x7F\x71\x11\x01\x00"
                         "\x07\x00"
                         "\xFF\x7F\x71\x11\x01\x00"
                         "\x01\x00\x00\x00",
                         20);
  EXPECT_EQ(bytes.substr(bytes.size() - tail.size()), tail);

  CTavrionConverterDoc back;
  back.LoadFromBytes(bytes, "/m/batch.tvc");
  ASSERT_EQ(back.GetCount(), kCount);
  EXPECT_EQ(back.GetAt(kCount - 1)->SourcePath().Full(), "/m/clip69999.avi");
  ASSERT_EQ(back.GetSelection().size(), 2u);
  EXPECT_EQ(back.GetSelection()[0], back.GetAt(kCount - 1));
  EXPECT_EQ(back.GetSelection()[1], back.GetAt(5));
  EXPECT_EQ(back.GetFocused(), back.GetAt(kCount - 1));
  EXPECT_EQ(back.SaveToBytes("/m/batch.tvc"), bytes);
}

TEST(EngineBatchFile, LongPath_UsesTheExtendedLengthPrefix) {
  const std::string folder = "/" + std::string(289, 'd') + "/";
  const std::string source = folder + "movie.avi";  // 300 characters
  ASSERT_EQ(source.size(), 300u);
  CTavrionConverterDoc doc;
  auto entry = std::make_unique<CConvertOrder>();
  entry->SetSourcePath(source);
  doc.AppendOrder(std::move(entry));
  const std::string bytes = doc.SaveToBytes("");  // no file: paths in full
  const size_t at = 2 + 2 + 2 + 2 + 13 + 2;        // after the class description and two flags
  EXPECT_EQ(bytes.substr(at, 3), std::string("\xFF\x2C\x01", 3));  // 0xFF, 16-bit 300
  EXPECT_EQ(bytes.substr(at + 3, 300), source);
  CTavrionConverterDoc back;
  back.LoadFromBytes(bytes, "");
  EXPECT_EQ(back.GetAt(0)->SourcePath().Full(), source);

  // 0xFFFE characters and more: 0xFF, 0xFFFF, 32-bit length.
  CTavrionConverterDoc huge;
  auto big = std::make_unique<CConvertOrder>();
  big->SetSubtitleLanguage(std::string(0xFFFE, 'x'));
  huge.AppendOrder(std::move(big));
  const std::string hugeBytes = huge.SaveToBytes("");
  EXPECT_NE(hugeBytes.find(std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)), std::string::npos);
  CTavrionConverterDoc hugeBack;
  hugeBack.LoadFromBytes(hugeBytes, "");
  EXPECT_EQ(hugeBack.GetAt(0)->GetSubtitleLanguage().size(), 0xFFFEu);
}

TEST(EngineBatchFile, Load_Utf16Strings_AreConverted) {
  Bytes b;
  PutOneEntryStart(b);
  Put(b, {0x01, 0x01});
  // source: UTF-16, short form: 0xFF, 0xFFFE, length 8 -> "/m/\uD55C.avi"
  Put(b, {0xFF, 0xFE, 0xFF, 0x08});
  PutUtf16(b, u"/m/\uD55C.avi");
  // subtitle: UTF-16, long form: 0xFF, 0xFFFE, 0xFF, 16-bit 300
  Put(b, {0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01});
  for (int i = 0; i < 300; ++i) Put(b, {'s', 0x00});
  Put(b, {0x00});  // output: empty (ANSI)
  PutNoPointsFrame320x240(b);
  Put(b, {0xFF, 0xFE, 0xFF, 0x00});  // subtitleSize: empty UTF-16 string
  Put(b, {0xFF, 0xFE, 0xFF, 0x02, 'k', 0x00, 'o', 0x00});
  Put(b, {0, 0, 0, 0, 1, 0, 0, 0});

  CTavrionConverterDoc doc;
  doc.LoadFromBytes(AsString(b), "");
  ASSERT_EQ(doc.GetCount(), 1u);
  EXPECT_EQ(doc.GetAt(0)->SourcePath().Full(), "/m/\xED\x95\x9C.avi");
  EXPECT_EQ(doc.GetAt(0)->SubtitlePath().Full(), std::string(300, 's'));
  EXPECT_EQ(doc.GetAt(0)->GetSubtitleSize(), "");
  EXPECT_EQ(doc.GetAt(0)->GetSubtitleLanguage(), "ko");

  // An odd number of bytes left for a UTF-16 string is a truncation.
  Bytes cut(b.begin(), b.begin() + 8 + 13 + 2 + 4 + 5);
  CTavrionConverterDoc none;
  EXPECT_THROW(none.LoadFromBytes(AsString(cut), ""), ArchiveException);
}

// A file name in Latin-1 (no UTF-8) is stored as the bytes it has on disk, in the narrow
// form every version reads, and comes back as those bytes; written as UTF-16 it is carried
// by the escapes of its bytes and comes back the same.
TEST(EngineBatchFile, NamesThatAreNotUtf8_KeepTheirBytes) {
  const std::string dir = tavtest::MakeTempSubdir("latin1");
  const std::string source = dir + "/caf\xE9 \xC0 la plage.avi";
  WriteFile(source, "x");
  CTavrionConverterDoc doc;
  CConvertOrder* e = doc.AddOrder(source);
  EXPECT_EQ(e->OutputPath().Full(), dir + "/[QVF]-caf\xE9 \xC0 la plage.qvf");
  std::string error;
  ASSERT_TRUE(doc.OnSaveDocument(dir + "/b.tvc", &error)) << error;
  const std::string bytes = ReadFile(dir + "/b.tvc");
  EXPECT_NE(bytes.find(std::string("\x13") + "caf\xE9 \xC0 la plage.avi"), std::string::npos);
  CTavrionConverterDoc back;
  ASSERT_TRUE(back.OnOpenDocument(dir + "/b.tvc", &error)) << error;
  EXPECT_EQ(back.GetAt(0)->SourcePath().Full(), source);
  EXPECT_EQ(back.GetAt(0)->OutputPath().Full(), e->OutputPath().Full());

  Bytes b;
  PutOneEntryStart(b);
  Put(b, {0x01, 0x01});
  Put(b, {0xFF, 0xFE, 0xFF, 0x0B});
  PutUtf16(b, u"/m/caf\xDCE9.avi");
  Put(b, {0x00, 0x00});
  PutNoPointsFrame320x240(b);
  Put(b, {0x00, 0x00});
  Put(b, {0, 0, 0, 0, 1, 0, 0, 0});
  CTavrionConverterDoc wide;
  wide.LoadFromBytes(AsString(b), "");
  ASSERT_EQ(wide.GetCount(), 1u);
  EXPECT_EQ(wide.GetAt(0)->SourcePath().Full(), "/m/caf\xE9.avi");
}

TEST(EngineBatchFile, RelativePaths_FollowTheBatchFolderWhenMoved) {
  const std::string root = tavtest::MakeTempSubdir("moving");
  const std::string a = root + "/A";
  const std::string other = root + "/other";
  std::filesystem::create_directories(a + "/subs");
  std::filesystem::create_directories(other);
  WriteFile(a + "/clip.avi", "x");
  WriteFile(a + "/subs/clip.smi", "<SAMI></SAMI>");
  WriteFile(other + "/far.avi", "x");

  CTavrionConverterDoc doc;
  CConvertOrder* near = doc.AddOrder(a + "/clip.avi");
  near->SetSubtitlePath(a + "/subs/clip.smi");
  CConvertOrder* far = doc.AddOrder(other + "/far.avi");
  std::string error;
  ASSERT_TRUE(doc.OnSaveDocument(a + "/batch.tvc", &error)) << error;

  // Bare names and sub-folder names in the file; the far movie in full.
  const std::string bytes = ReadFile(a + "/batch.tvc");
  EXPECT_NE(bytes.find(std::string("\x08") + "clip.avi"), std::string::npos);
  EXPECT_NE(bytes.find(std::string("\x0D") + "subs/clip.smi"), std::string::npos);
  EXPECT_NE(bytes.find(other + "/far.avi"), std::string::npos);
  EXPECT_EQ(bytes.find(a + "/"), std::string::npos);
  (void)far;

  std::filesystem::rename(a, root + "/C");
  CTavrionConverterDoc moved;
  ASSERT_TRUE(moved.OnOpenDocument(root + "/C/batch.tvc", &error)) << error;
  ASSERT_EQ(moved.GetCount(), 2u);
  EXPECT_EQ(moved.GetAt(0)->SourcePath().Full(), root + "/C/clip.avi");
  EXPECT_EQ(moved.GetAt(0)->SubtitlePath().Full(), root + "/C/subs/clip.smi");
  EXPECT_EQ(moved.GetAt(0)->OutputPath().Full(), root + "/C/[QVF]-clip.qvf");
  EXPECT_EQ(moved.GetAt(1)->SourcePath().Full(), other + "/far.avi");
  EXPECT_EQ(moved.GetAt(1)->SubtitlePath().Full(), "");
  EXPECT_EQ(moved.GetPathName(), root + "/C/batch.tvc");
}

TEST(EngineBatchFile, Paths_WithoutFolderOrOutsideTheBatch) {
  CTavrionConverterDoc doc;
  auto entry = std::make_unique<CConvertOrder>();
  entry->SetSourcePath("bare.avi");           // no folder: stored under the batch folder
  entry->SetSubtitlePath("/b2/x.smi");        // a sibling folder sharing a prefix: in full
  entry->SetOutputPath("/b/deeper/out.qvf");  // below the batch folder: relative
  doc.AppendOrder(std::move(entry));
  const std::string bytes = doc.SaveToBytes("/b/batch.tvc");
  EXPECT_NE(bytes.find(std::string("\x0B") + "/b/bare.avi"), std::string::npos);
  EXPECT_NE(bytes.find(std::string("\x09") + "/b2/x.smi"), std::string::npos);
  EXPECT_NE(bytes.find(std::string("\x0E") + "deeper/out.qvf"), std::string::npos);
  CTavrionConverterDoc back;
  back.LoadFromBytes(bytes, "/c/batch.tvc");
  EXPECT_EQ(back.GetAt(0)->SourcePath().Full(), "/b/bare.avi");

  // A doubled separator right after the batch folder: the rest would read as an absolute
  // path and load as another file, so the path is kept in full (found by fuzzing).
  back.GetAt(0)->SetSubtitlePath("/c//d/x.smi");
  const std::string again = back.SaveToBytes("/c/batch.tvc");
  CTavrionConverterDoc third;
  third.LoadFromBytes(again, "/c/batch.tvc");
  EXPECT_EQ(third.GetAt(0)->SubtitlePath().Full(), "/c//d/x.smi");
  EXPECT_EQ(third.SaveToBytes("/c/batch.tvc"), again);
  EXPECT_EQ(back.GetAt(0)->OutputPath().Full(), "/c/deeper/out.qvf");
}

TEST(EngineBatchFile, Save_ReplacesAtomicallyAndKeepsTheOldFileOnFailure) {
  const std::string dir = tavtest::MakeTempSubdir("atomic");
  const std::string path = dir + "/batch.tvc";
  CTavrionConverterDoc doc;
  BuildGoldenDocument(doc);
  std::string error;
  ASSERT_TRUE(doc.OnSaveDocument(path, &error)) << error;
  const std::string first = ReadFile(path);
  ::chmod(path.c_str(), 0640);

  doc.RemoveOrder(doc.GetAt(0));
  ASSERT_TRUE(doc.OnSaveDocument(path, &error)) << error;
  EXPECT_NE(ReadFile(path), first);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replaced file's mode is kept
  size_t files = 0;
  for (const auto& item : std::filesystem::directory_iterator(dir)) (void)item, ++files;
  EXPECT_EQ(files, 1u);  // no temporary left behind

  // Saving through a symbolic link replaces the file it names and keeps the link.
  std::filesystem::create_symlink(path, dir + "/link.tvc");
  ASSERT_TRUE(doc.OnSaveDocument(dir + "/link.tvc", &error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(dir + "/link.tvc"));
  EXPECT_EQ(ReadFile(path), ReadFile(dir + "/link.tvc"));
  std::filesystem::remove(dir + "/link.tvc");

  // A path whose folder is missing: an error, and nothing else changes.
  EXPECT_FALSE(doc.OnSaveDocument(dir + "/missing/batch.tvc", &error));
  EXPECT_NE(error.find("missing/batch.tvc"), std::string::npos) << error;
  // A directory in the way of the rename.
  std::filesystem::create_directories(dir + "/taken.tvc/inside");
  EXPECT_FALSE(doc.OnSaveDocument(dir + "/taken.tvc", &error));
  EXPECT_TRUE(std::filesystem::is_directory(dir + "/taken.tvc/inside"));
}

TEST(EngineBatchFile, Open_MissingOrDirectory_ReportsClearly) {
  const std::string dir = tavtest::MakeTempSubdir("openfail");
  CTavrionConverterDoc doc;
  std::string error;
  EXPECT_FALSE(doc.OnOpenDocument(dir + "/none.tvc", &error));
  EXPECT_NE(error.find("none.tvc"), std::string::npos);
  EXPECT_FALSE(doc.OnOpenDocument(dir, &error));
  EXPECT_EQ(doc.GetCount(), 0u);
}

TEST(EngineBatchFile, Load_TrailingBytesAreIgnored) {
  std::string bytes = AsString(GoldenBatch());
  bytes += "trailing";
  CTavrionConverterDoc doc;
  doc.LoadFromBytes(bytes, "/b/batch.tvc");
  EXPECT_EQ(doc.GetCount(), 3u);
}

}  // namespace
}  // namespace tav
