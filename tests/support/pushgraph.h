// A graph of test filters to play for the player's and the slider's tests: a seekable push
// source of 40 ms RGB32 frames connected straight into a counting renderer.
#pragma once

#include "media/contract/comptr.h"
#include "platform/streaming/tests/graph_testfilters.h"

namespace tavtest {

// The length of the push source's frames.
inline constexpr REFERENCE_TIME kPushFrame = 400000;

// Adds a push source of duration (class sourceClass, named "Source") and a counting renderer
// (renderClass, "Renderer") to graph and connects them. Answers the first failure; source,
// when given, receives the source filter, which the graph holds.
inline HRESULT AddPushGraph(IGraphBuilder* graph, const CLSID& sourceClass, const CLSID& renderClass,
                            REFERENCE_TIME duration, graphtest::PushSource** source = nullptr) {
  HRESULT hr = S_OK;
  auto* push = new graphtest::PushSource(sourceClass, duration);
  ComPtr<IBaseFilter> keepSource(push);  // a reference of our own before the graph's
  ComPtr<IBaseFilter> renderer(new graphtest::CountingRenderer(renderClass, &hr));
  if (source) *source = push;
  if (FAILED(hr = graph->AddFilter(push, u"Source"))) return hr;
  if (FAILED(hr = graph->AddFilter(renderer.Get(), u"Renderer"))) return hr;
  return graph->ConnectDirect(graphtest::FirstPin(push, PINDIR_OUTPUT),
                              graphtest::FirstPin(renderer.Get(), PINDIR_INPUT), nullptr);
}

}  // namespace tavtest
