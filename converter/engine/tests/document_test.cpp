// The batch document's list model, its view notifications, and opening paths as the
// document template does.
#include <gtest/gtest.h>

#include <fstream>

#include "converter/engine/document.h"
#include "converter/engine/exceptions.h"
#include "tests/support/testenv.h"

namespace tav {
namespace {

struct Recorder : DocumentObserver {
  struct Note {
    DocumentHint hint;
    CConvertOrder* entry;
    std::string path;
  };
  std::vector<Note> notes;
  void OnDocumentUpdate(DocumentHint hint, CConvertOrder* entry, const std::string* path) override {
    notes.push_back({hint, entry, path ? *path : std::string()});
  }
};

class EngineDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 4; ++i) {
      auto entry = std::make_unique<CConvertOrder>();
      entry->SetSourcePath("/m/" + std::to_string(i) + ".avi");
      e[i] = doc.AppendOrder(std::move(entry));
    }
  }
  CTavrionConverterDoc doc;
  CConvertOrder* e[4] = {};
};

TEST_F(EngineDocumentTest, Neighbours_AndSwap) {
  EXPECT_EQ(doc.PreviousOrder(e[0]), nullptr);
  EXPECT_EQ(doc.NextOrder(e[0]), e[1]);
  EXPECT_EQ(doc.NextOrder(e[3]), nullptr);
  doc.SwapOrders(e[1], e[2]);
  EXPECT_EQ(doc.GetAt(1), e[2]);
  EXPECT_EQ(doc.GetAt(2), e[1]);
  EXPECT_EQ(doc.PreviousOrder(e[1]), e[2]);
}

TEST_F(EngineDocumentTest, RemoveSelected_SelectsTheFollowingEntry) {
  doc.SelectOnly(e[1]);
  doc.SetFocused(e[1]);
  doc.RemoveOrder(e[1]);
  EXPECT_EQ(doc.GetCount(), 3u);
  EXPECT_EQ(doc.GetFocused(), nullptr);
  ASSERT_EQ(doc.GetSelection().size(), 1u);
  EXPECT_EQ(doc.GetSelection()[0], e[2]);

  // The last entry: the new last one is selected, once.
  doc.SelectOnly(e[3]);
  doc.AddToSelection(e[2]);
  doc.RemoveOrder(e[3]);
  ASSERT_EQ(doc.GetSelection().size(), 1u);
  EXPECT_EQ(doc.GetSelection()[0], e[2]);

  // An unselected entry leaves the selection alone.
  doc.RemoveOrder(e[0]);
  ASSERT_EQ(doc.GetSelection().size(), 1u);
  doc.RemoveOrder(e[2]);
  EXPECT_TRUE(doc.GetSelection().empty());
  EXPECT_EQ(doc.GetCount(), 0u);
}

TEST_F(EngineDocumentTest, Selection_QueriesAndOrder) {
  EXPECT_FALSE(doc.HasSelection());
  EXPECT_EQ(doc.GetSingleSelected(), nullptr);
  doc.Select(e[2]);
  doc.Select(e[2]);  // never twice
  EXPECT_TRUE(doc.HasSingleSelection());
  EXPECT_TRUE(doc.IsSingleSelected(e[2]));
  EXPECT_EQ(doc.GetSingleSelected(), e[2]);
  EXPECT_FALSE(doc.SelectionHasFirst());
  doc.AddToSelection(e[0]);
  doc.AddToSelection(e[3]);
  EXPECT_TRUE(doc.SelectionHasFirst());
  EXPECT_TRUE(doc.SelectionHasLast());
  EXPECT_FALSE(doc.HasSingleSelection());
  EXPECT_EQ(doc.GetSingleSelected(), nullptr);

  std::vector<CConvertOrder*> order;
  doc.GetSelectedInOrder(&order);
  EXPECT_EQ(order, (std::vector<CConvertOrder*>{e[0], e[2], e[3]}));
  doc.SetFocused(e[2]);
  order.clear();
  doc.GetSelectedInOrder(&order);
  EXPECT_EQ(order, (std::vector<CConvertOrder*>{e[2], e[3], e[0]}));
  doc.SetFocused(e[1]);  // focused but not selected: plain list order
  order.clear();
  doc.GetSelectedInOrder(&order);
  EXPECT_EQ(order, (std::vector<CConvertOrder*>{e[0], e[2], e[3]}));

  doc.Unselect(e[0]);
  EXPECT_FALSE(doc.IsSelected(e[0]));
  doc.ClearSelection();
  EXPECT_FALSE(doc.HasSelection());
  CConvertOrder stranger;
  doc.Select(&stranger);  // not in the batch
  EXPECT_FALSE(doc.HasSelection());
}

TEST_F(EngineDocumentTest, Converting_DisablesEditingQueries) {
  doc.SelectOnly(e[1]);
  e[1]->SetSourceInfo(kUnknownTime, 720, 480, true);
  EXPECT_TRUE(doc.SingleSelectedUsesSubtitles());
  EXPECT_TRUE(doc.CanChangeScreenFit());
  EXPECT_TRUE(doc.AnyChecked());
  doc.SetConverting(true);
  EXPECT_FALSE(doc.HasSelection());
  EXPECT_FALSE(doc.HasSingleSelection());
  EXPECT_FALSE(doc.SingleSelectedUsesSubtitles());
  EXPECT_FALSE(doc.CanChangeScreenFit());
  EXPECT_FALSE(doc.AnyChecked());
  EXPECT_TRUE(doc.IsSingleSelected(e[1]));  // a plain fact, not an editing permission

  Recorder views;
  doc.AddObserver(&views);
  doc.StopConversion();
  ASSERT_EQ(views.notes.size(), 2u);
  EXPECT_EQ(views.notes[0].hint, DocumentHint::kCurrentChanged);
  EXPECT_EQ(views.notes[0].entry, nullptr);
  EXPECT_EQ(views.notes[1].hint, DocumentHint::kRunStopped);
  doc.StopConversion();  // safe when nothing runs
  EXPECT_EQ(views.notes.size(), 2u);

  e[1]->SetSourceInfo(kUnknownTime, 640, 480, true);
  EXPECT_FALSE(doc.CanChangeScreenFit());
  e[1]->SetUseSubtitles(false);
  EXPECT_FALSE(doc.SingleSelectedUsesSubtitles());
}

TEST_F(EngineDocumentTest, CheckedEntries) {
  for (auto* entry : e) entry->SetChecked(false);
  EXPECT_FALSE(doc.AnyChecked());
  EXPECT_EQ(doc.NextChecked(e[0]), nullptr);
  e[2]->SetChecked(true);
  EXPECT_EQ(doc.NextChecked(e[0]), e[2]);
  EXPECT_EQ(doc.NextChecked(e[2]), e[2]);  // at or after
  EXPECT_EQ(doc.NextChecked(e[3]), nullptr);
  e[1]->SetFailed(E_FAIL);
  e[3]->SetFinished(true, 0);
  doc.ResetAllStates();
  EXPECT_EQ(e[1]->GetState(), CConvertOrder::kReady);
  EXPECT_EQ(e[3]->GetState(), CConvertOrder::kReady);
}

TEST(EngineDocument, IsMovieFile) {
  EXPECT_TRUE(CTavrionConverterDoc::IsMovieFile("/m/CLIP.MP4"));
  EXPECT_TRUE(CTavrionConverterDoc::IsMovieFile("/m/cam.qvf"));
  EXPECT_TRUE(CTavrionConverterDoc::IsMovieFile("a.3gpp"));
  for (const char* name : {"a.mkv", "a.WEBM", "a.m4v", "a.mts", "a.m2ts", "a.ts", "a.vob", "a.flv"})
    EXPECT_TRUE(CTavrionConverterDoc::IsMovieFile(name)) << name;
  EXPECT_FALSE(CTavrionConverterDoc::IsMovieFile("a.2ts"));  // only whole extensions match
  EXPECT_FALSE(CTavrionConverterDoc::IsMovieFile("/m/clip.mp"));  // no prefix matches
  EXPECT_FALSE(CTavrionConverterDoc::IsMovieFile("/m/clip.vi"));
  EXPECT_FALSE(CTavrionConverterDoc::IsMovieFile("/m/clip.smi"));
  EXPECT_FALSE(CTavrionConverterDoc::IsMovieFile("/m/README"));  // no extension
  EXPECT_FALSE(CTavrionConverterDoc::IsMovieFile("/m/clip."));
  EXPECT_FALSE(CTavrionConverterDoc::IsMovieFile("/m.avi/clip"));
}

TEST(EngineDocument, Contents_DeletedWithHintAndSavedAfterHint1) {
  const std::string dir = tavtest::MakeTempSubdir("doclife");
  std::ofstream(dir + "/a.avi") << "x";
  CTavrionConverterDoc doc;
  Recorder views;
  doc.AddObserver(&views);
  CConvertOrder* entry = doc.AddOrder(dir + "/a.avi");
  doc.SelectOnly(entry);
  doc.SetFocused(entry);

  // Views write their pending edits at kBeforeSave: what they write is what is saved.
  struct Editor : DocumentObserver {
    CTavrionConverterDoc* doc;
    void OnDocumentUpdate(DocumentHint hint, CConvertOrder*, const std::string*) override {
      if (hint == DocumentHint::kBeforeSave) doc->GetAt(0)->SetFrameRate(15.0);
    }
  } editor;
  editor.doc = &doc;
  doc.AddObserver(&editor);
  std::string error;
  ASSERT_TRUE(doc.OnSaveDocument(dir + "/b.tvc", &error)) << error;
  doc.RemoveObserver(&editor);
  ASSERT_FALSE(views.notes.empty());
  EXPECT_EQ(views.notes.back().hint, DocumentHint::kBeforeSave);

  views.notes.clear();
  ASSERT_TRUE(doc.OnOpenDocument(dir + "/b.tvc", &error)) << error;
  ASSERT_FALSE(views.notes.empty());
  EXPECT_EQ(views.notes.front().hint, DocumentHint::kContentsDeleted);
  ASSERT_EQ(doc.GetCount(), 1u);
  EXPECT_EQ(doc.GetAt(0)->GetFrameRate(), 15.0);
  EXPECT_EQ(doc.GetFocused(), doc.GetAt(0));

  views.notes.clear();
  doc.OnNewDocument();
  EXPECT_EQ(doc.GetCount(), 0u);
  EXPECT_EQ(doc.GetFocused(), nullptr);
  EXPECT_TRUE(doc.GetSelection().empty());
  ASSERT_EQ(views.notes.size(), 1u);
  EXPECT_EQ(views.notes[0].hint, DocumentHint::kContentsDeleted);
}

TEST(EngineDocument, AddOrder_FailingOutput_AddsNothing) {
  CTavrionConverterDoc doc;
  const std::string dir = tavtest::MakeTempSubdir("addfail");
  EXPECT_THROW(doc.AddOrder(dir + "/missing/a.avi"), FileException);
  EXPECT_EQ(doc.GetCount(), 0u);
}

TEST(EngineDocument, OpenThroughTemplate_BatchOrMovie) {
  const std::string dir = tavtest::MakeTempSubdir("template");
  std::ofstream(dir + "/a.avi") << "x";
  CTavrionConverterDoc doc;
  doc.AddOrder(dir + "/a.avi");
  std::string error;
  ASSERT_TRUE(doc.OnSaveDocument(dir + "/b.TVC", &error)) << error;

  CTavrionConverterDoc other;
  Recorder views;
  other.AddObserver(&views);
  ASSERT_TRUE(OpenDocumentFile(other, dir + "/b.TVC", &error)) << error;
  EXPECT_EQ(other.GetCount(), 1u);
  // Opening the open batch again reloads it.
  other.GetAt(0)->SetChecked(false);
  ASSERT_TRUE(OpenDocumentFile(other, dir + "/b.TVC", &error));
  EXPECT_TRUE(other.GetAt(0)->IsChecked());

  views.notes.clear();
  ASSERT_TRUE(OpenDocumentFile(other, dir + "/movie.MOV", &error));
  ASSERT_EQ(views.notes.size(), 1u);
  EXPECT_EQ(views.notes[0].hint, DocumentHint::kMovieOpened);
  EXPECT_EQ(views.notes[0].path, dir + "/movie.MOV");
  EXPECT_EQ(other.GetCount(), 1u);  // the view adds it, not the template

  views.notes.clear();
  EXPECT_TRUE(OpenDocumentFile(other, dir + "/notes.txt", &error));
  EXPECT_TRUE(views.notes.empty());

  std::ofstream(dir + "/bad.tvc") << "garbage!";
  EXPECT_FALSE(OpenDocumentFile(other, dir + "/bad.tvc", &error));
  EXPECT_EQ(other.GetCount(), 0u);
  EXPECT_NE(error.find("bad.tvc"), std::string::npos);
}

TEST(EngineDocument, ObserverMayRemoveItselfWhileNotified) {
  CTavrionConverterDoc doc;
  struct SelfRemoving : DocumentObserver {
    CTavrionConverterDoc* doc;
    int calls = 0;
    void OnDocumentUpdate(DocumentHint, CConvertOrder*, const std::string*) override {
      ++calls;
      doc->RemoveObserver(this);
    }
  } a, b;
  a.doc = b.doc = &doc;
  doc.AddObserver(&a);
  doc.AddObserver(&b);
  doc.UpdateAllViews(DocumentHint::kRunStopped);
  doc.UpdateAllViews(DocumentHint::kRunStopped);
  EXPECT_EQ(a.calls, 1);
  EXPECT_EQ(b.calls, 1);
}

TEST(EngineDocument, ConversionGraphSeam_IsInitialisedWithVetoAndAudioTarget) {
  struct FakeBuilder : ConversionGraphSeam {
    bool* inited;
    IFilterVeto** veto;
    WAVEFORMATEX* target;
    HRESULT Init() override {
      *inited = true;
      return S_OK;
    }
    void SetFilterVeto(IFilterVeto* v) override { *veto = v; }
    void SetAudioTarget(const WAVEFORMATEX& f) override { *target = f; }
  };
  struct AllowAll : IFilterVeto {
    bool IsFilterAllowed(void*, const std::string&) override { return true; }
  } allow;
  bool inited = false;
  IFilterVeto* veto = nullptr;
  WAVEFORMATEX target{};
  auto builder = std::make_unique<FakeBuilder>();
  builder->inited = &inited;
  builder->veto = &veto;
  builder->target = &target;
  CTavrionConverterDoc doc;
  EXPECT_EQ(doc.AttachConversionGraph(std::move(builder), &allow), S_OK);
  EXPECT_TRUE(inited);
  EXPECT_EQ(veto, &allow);
  EXPECT_EQ(target.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(target.nSamplesPerSec, 22050u);
  EXPECT_EQ(target.nChannels, 2);
  EXPECT_EQ(target.wBitsPerSample, 16);
  EXPECT_EQ(target.nBlockAlign, 4);
  EXPECT_EQ(target.nAvgBytesPerSec, 88200u);
  EXPECT_NE(doc.GetConversionGraph(), nullptr);
}

}  // namespace
}  // namespace tav

namespace tav {
namespace {

// What asks "Save changes?": settings, entries and their order count; the selection, the
// focus and a run's states do not; a batch without entries never asks.
TEST_F(EngineDocumentTest, IsModified_CountsContentsNotSelectionOrStates) {
  EXPECT_TRUE(doc.IsModified()) << "entries added to a new batch are unsaved";
  doc.SetModifiedBaseline();
  EXPECT_FALSE(doc.IsModified());
  doc.Select(e[2]);
  doc.SetFocused(e[2]);
  e[1]->SetFinished(false, 5);
  e[1]->SetResumePoint(5, 2);
  EXPECT_FALSE(doc.IsModified());

  // A pending edit in a view counts: the view writes it into the entry on kBeforeSave.
  struct PendingEdit : DocumentObserver {
    CConvertOrder* entry = nullptr;
    void OnDocumentUpdate(DocumentHint hint, CConvertOrder*, const std::string*) override {
      if (hint == DocumentHint::kBeforeSave && entry) entry->SetFrameRate(15.0);
    }
  } view;
  view.entry = e[0];
  doc.AddObserver(&view);
  EXPECT_TRUE(doc.IsModified());
  doc.RemoveObserver(&view);
  doc.SetModifiedBaseline();

  doc.SwapOrders(e[0], e[1]);
  EXPECT_TRUE(doc.IsModified());
  doc.SwapOrders(e[0], e[1]);
  EXPECT_FALSE(doc.IsModified()) << "back as it was saved";
  e[3]->SetOutputPath("/elsewhere/x.qvf");
  EXPECT_TRUE(doc.IsModified());
  doc.SetModifiedBaseline();
  doc.SetRemoveAfterConversion(!doc.GetRemoveAfterConversion());
  EXPECT_TRUE(doc.IsModified());
  doc.SetModifiedBaseline();
  doc.RemoveOrder(e[3]);
  EXPECT_TRUE(doc.IsModified());

  // Saved, opened and new batches start unmodified.
  const std::string batch = tavtest::MakeTempSubdir("modified") + "/b.tvc";
  std::string error;
  ASSERT_TRUE(doc.OnSaveDocument(batch, &error)) << error;
  EXPECT_FALSE(doc.IsModified());
  e[0]->SetChecked(false);
  EXPECT_TRUE(doc.IsModified());
  ASSERT_TRUE(doc.OnOpenDocument(batch, &error)) << error;
  EXPECT_FALSE(doc.IsModified());
  doc.GetAt(0)->SetUseSubtitles(!doc.GetAt(0)->UsesSubtitles());
  EXPECT_TRUE(doc.IsModified());
  doc.OnNewDocument();
  EXPECT_FALSE(doc.IsModified());
  doc.AppendOrder(std::make_unique<CConvertOrder>());
  EXPECT_TRUE(doc.IsModified());
  doc.RemoveOrder(doc.GetAt(0));
  EXPECT_FALSE(doc.IsModified()) << "an empty batch has nothing to save";
}

}  // namespace
}  // namespace tav
