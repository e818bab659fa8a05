// The graph builder with the application's codecs.ini veto: a decoder the mapper offers is
// never created when codecs.ini refuses it, and "*" = 1 switches the list off again.
#include <fstream>

#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/startup.h"
#include "converter/engine/tests/buildertestutil.h"
#include "media/contract/uuids.h"
#include "platform/streaming/tests/graph_testfilters.h"
#include "platform/streaming/tests/graph_testutil.h"
#include "tests/support/mapperfilter.h"
#include "tests/support/testenv.h"

namespace tav {
namespace {

using graphtest::Converter;
using graphtest::LocalClass;
using graphtest::Outer;
using graphtest::TypedSource;

TAV_DEFINE_GUID(kVetoSourceClass, 0x3C0000C1, 0x1111, 0x2222, 0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66);
TAV_DEFINE_GUID(kOddDecoderClass, 0x3C0000C2, 0x1111, 0x2222, 0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66);

const GUID kOdd = FourccSubtype(MAKEFOURCC('Q', 'R', 'S', 'T'));

class FilterVetoTest : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                               mapper_.AsVoidOut()),
              S_OK);
    // A decoder only the mapper knows: QRST video in, RGB32 out.
    ASSERT_EQ(tavtest::RegisterVideoFilter(mapper_.Get(), kOddDecoderClass, u"Odd Decoder", kOdd, MEDIASUBTYPE_RGB32,
                                           MERIT_NORMAL),
              S_OK);
    decoder_ = std::make_unique<LocalClass>(kOddDecoderClass, [] {
      return Outer(new Converter(kOddDecoderClass, kOdd, MEDIASUBTYPE_RGB32));
    });
    programFolder_ = tavtest::MakeTempSubdir("program");
    app_.SetProgramFolder(programFolder_);
  }
  void TearDown() override {
    mapper_->UnregisterFilter(nullptr, nullptr, kOddDecoderClass);
    mapper_ = nullptr;
    decoder_.reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), 0) << "base-class objects leaked";
    GraphTest::TearDown();
  }

  void WriteCodecsIni(const std::string& text) { std::ofstream(programFolder_ + "/codecs.ini") << text; }

  // Renders a QRST source in a fresh conversion builder that asks the application's veto.
  HRESULT Render(std::vector<std::u16string>* names) {
    FilterGraphBuilder builder;
    EXPECT_EQ(builder.Init(), S_OK);
    builder.SetConversionMode(true);
    builder.SetFilterVeto(&app_);
    auto* source = new TypedSource(kVetoSourceClass, {kOdd});
    ComPtr<IBaseFilter> keep(source);
    EXPECT_EQ(builder.Graph()->AddFilter(source, u"Source"), S_OK);
    const HRESULT hr = builder.RenderPin(source->Out());
    *names = FilterNames(builder.Graph());
    return hr;
  }

  ComPtr<IFilterMapper2> mapper_;
  std::unique_ptr<LocalClass> decoder_;
  std::string programFolder_;
  CTavrionConverterApp app_;
};

TEST_F(FilterVetoTest, VetoedDecoderIsNeverCreated_StarSwitchesTheListOff) {
  const std::string key = GuidToString(kOddDecoderClass);
  std::vector<std::u16string> names;

  // No codecs.ini: the mapper's decoder takes the stream.
  EXPECT_EQ(Render(&names), S_OK);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Odd Decoder", u"Source"}));
  EXPECT_EQ(decoder_->created.load(), 1);

  // Refused: it is not even created, and with nothing else to take the stream rendering fails
  // and leaves the source alone.
  WriteCodecsIni("[DSBLACKLIST]\n" + key + "=0\n");
  EXPECT_EQ(Render(&names), E_FAIL);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Source"}));
  EXPECT_EQ(decoder_->created.load(), 1);

  // A non-zero value is no refusal.
  WriteCodecsIni("[DSBLACKLIST]\n" + key + "=1\n");
  EXPECT_EQ(Render(&names), S_OK);
  EXPECT_EQ(decoder_->created.load(), 2);

  // "*" = 1 switches the whole list off.
  WriteCodecsIni("[DSBLACKLIST]\n*=1\n" + key + "=0\n");
  EXPECT_EQ(Render(&names), S_OK);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Odd Decoder", u"Source"}));
  EXPECT_EQ(decoder_->created.load(), 3);
}

}  // namespace
}  // namespace tav
