// The send / receive loop every libavcodec decoder here runs: a packet goes in, every
// picture or block of sound the codec then has ready comes out, in order. The caller says
// what a frame is worth (deliver it, convert it) and what a codec error costs (count it,
// or refuse the stream); the loop owns the codec's protocol: a full codec (EAGAIN) is
// emptied before the packet is sent again, and EAGAIN / EOF from the receiving side mean
// "nothing more for now".
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tav::filters {

// Hands each frame the codec has ready to onFrame(AVFrame*) until it wants input or has
// ended; the frame is unreferenced after each call. A codec error goes to onError(int):
// ok skips the damaged frame and goes on. Anything but ok from either stops the loop and
// is returned.
template <class Status, class OnFrame, class OnError>
Status ReceiveDecodedFrames(AVCodecContext* codec, AVFrame* frame, Status ok, OnFrame&& onFrame, OnError&& onError) {
  for (;;) {
    const int err = avcodec_receive_frame(codec, frame);
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return ok;
    const Status status = err < 0 ? onError(err) : onFrame(frame);
    av_frame_unref(frame);
    if (status != ok) return status;
  }
}

// Sends packet (null: the end of the stream, the codec gives out all it holds) and then
// takes what the codec has ready, as ReceiveDecodedFrames. A packet the codec refuses goes
// to onError; ok means it costs only its own frames and the loop goes on receiving.
template <class Status, class OnFrame, class OnError>
Status DecodePacket(AVCodecContext* codec, const AVPacket* packet, AVFrame* frame, Status ok, OnFrame&& onFrame,
                    OnError&& onError) {
  int err = avcodec_send_packet(codec, packet);
  if (err == AVERROR(EAGAIN)) {
    // The codec holds frames nobody took yet: take them, then it has room for the packet.
    const Status status = ReceiveDecodedFrames(codec, frame, ok, onFrame, onError);
    if (status != ok) return status;
    err = avcodec_send_packet(codec, packet);
  }
  // EOF: the stream was already ended (a second drain); there is simply nothing to send.
  if (err < 0 && err != AVERROR(EAGAIN) && err != AVERROR_EOF) {
    const Status status = onError(err);
    if (status != ok) return status;
  }
  return ReceiveDecodedFrames(codec, frame, ok, onFrame, onError);
}

}  // namespace tav::filters
