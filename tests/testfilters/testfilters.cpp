#include "tests/testfilters/testfilters.h"

namespace tavtest {

namespace {

const REGPINTYPES kVideoAny = {&MEDIATYPE_Video, &GUID_NULL};
const REGPINTYPES kVideoRgb32 = {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32};
const REGPINTYPES kStreamAny = {&MEDIATYPE_Stream, &GUID_NULL};

const AMOVIESETUP_PIN kPushPins[] = {
    {u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kVideoRgb32},
};
const AMOVIESETUP_PIN kPullPins[] = {
    {u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kStreamAny},
};
const AMOVIESETUP_PIN kTransformPins[] = {
    {u"XForm In", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kVideoRgb32},
    {u"XForm Out", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kVideoRgb32},
};
const AMOVIESETUP_PIN kInPlacePins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kVideoAny},
    {u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kVideoAny},
};
const AMOVIESETUP_PIN kRendererPins[] = {
    {u"In", TRUE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kVideoAny},
};

const AMOVIESETUP_FILTER kInPlaceSetup = {&CLSID_TestInPlace, u"Test In-Place", MERIT_NORMAL, 2, kInPlacePins};
const AMOVIESETUP_FILTER kPullSetup = {&CLSID_TestPullSource, u"Test Pull Source", MERIT_DO_NOT_USE, 1, kPullPins};
const AMOVIESETUP_FILTER kPushSetup = {&CLSID_TestPushSource, u"Test Push Source", MERIT_DO_NOT_USE, 1, kPushPins};
const AMOVIESETUP_FILTER kRendererSetup = {&CLSID_TestRenderer, u"Test Renderer", MERIT_NORMAL, 1, kRendererPins};
const AMOVIESETUP_FILTER kTransformSetup = {&CLSID_TestTransform, u"Test Transform", MERIT_NORMAL, 2, kTransformPins};

const CFactoryTemplate kTemplates[] = {
    {u"Test In-Place", &CLSID_TestInPlace, CTestInPlace::CreateInstance, nullptr, &kInPlaceSetup},
    {u"Test Pull Source", &CLSID_TestPullSource, CTestPullSource::CreateInstance, nullptr, &kPullSetup},
    {u"Test Push Source", &CLSID_TestPushSource, CTestPushSource::CreateInstance, nullptr, &kPushSetup},
    {u"Test Renderer", &CLSID_TestRenderer, CTestRenderer::CreateInstance, nullptr, &kRendererSetup},
    {u"Test Transform", &CLSID_TestTransform, CTestTransform::CreateInstance, nullptr, &kTransformSetup},
};

}  // namespace

const CFactoryTemplate* TestFilterTemplates(int* count) {
  if (count) *count = int(std::size(kTemplates));
  return kTemplates;
}

TestFilterClasses::TestFilterClasses() {
  for (const auto& t : kTemplates) {
    ComPtr<IClassFactory> factory;
    m_hr = AMovieDllGetClassObject(kTemplates, int(std::size(kTemplates)), *t.m_ClsID, IID_IClassFactory,
                                   factory.AsVoidOut());
    if (FAILED(m_hr)) return;
    DWORD cookie = 0;
    m_hr = CoRegisterClassObject(*t.m_ClsID, factory.Get(), CLSCTX_INPROC_SERVER, 0, &cookie);
    if (FAILED(m_hr)) return;
    m_cookies.push_back(cookie);
  }
}

TestFilterClasses::~TestFilterClasses() {
  for (DWORD cookie : m_cookies) CoRevokeClassObject(cookie);
}

HRESULT RegisterTestFiltersWithMapper(IFilterMapper2* mapper, BOOL doRegister, DWORD transformMerit) {
  if (!mapper) return E_POINTER;
  for (const auto& t : kTemplates) {
    AMOVIESETUP_FILTER setup = *t.m_pAMovieSetup_Filter;
    if (*t.m_ClsID == CLSID_TestTransform || *t.m_ClsID == CLSID_TestInPlace) setup.dwMerit = transformMerit;
    const HRESULT hr = AMovieSetupRegisterFilter2(&setup, mapper, doRegister);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace tavtest
