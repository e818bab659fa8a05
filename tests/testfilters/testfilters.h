// The test filters, their class table, and registration of them in this process (class
// objects) and, when asked, with the filter mapper.
#pragma once

#include <vector>

#include "tests/testfilters/countingrenderer.h"
#include "tests/testfilters/pullsource.h"
#include "tests/testfilters/pushsource.h"
#include "tests/testfilters/testinplace.h"
#include "tests/testfilters/testtransform.h"
#include "tests/testfilters/testtypes.h"

namespace tavtest {

// The class table (default configurations), sorted by name.
const CFactoryTemplate* TestFilterTemplates(int* count);

// Registers a class object for each test filter with CoRegisterClassObject, so that
// CoCreateInstance makes them in this process; Revoke undoes it.
class TestFilterClasses {
 public:
  TestFilterClasses();
  ~TestFilterClasses();
  HRESULT Result() const { return m_hr; }

 private:
  std::vector<DWORD> m_cookies;
  HRESULT m_hr = S_OK;
};

// Registers (or removes) the test filters' filter data with the mapper, with the given
// merit for the transform and the in-place filter.
HRESULT RegisterTestFiltersWithMapper(IFilterMapper2* mapper, BOOL doRegister, DWORD transformMerit = MERIT_NORMAL);

}  // namespace tavtest
