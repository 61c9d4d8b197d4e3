// Native PulseAudio client that holds COUNT corked playback streams on SINK until it is killed,
// printing "holding COUNT" once all are connected. PulseAudio refuses the 257th stream on a sink,
// which makes the next waveOutOpen on that sink fail under Wine.
#include <pulse/pulseaudio.h>
#include <stdio.h>
#include <stdlib.h>

static const char* sink;
static int wanted, ready;

static void on_stream(pa_stream* stream, void* unused) {
    (void)unused;
    pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY && ++ready == wanted) {
        printf("holding %d\n", ready);
        fflush(stdout);
    } else if (state == PA_STREAM_FAILED) {
        fprintf(stderr, "hold_streams: stream %d refused\n", ready + 1);
        exit(1);
    }
}

static void on_context(pa_context* context, void* unused) {
    (void)unused;
    pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
        fprintf(stderr, "hold_streams: %s\n", pa_strerror(pa_context_errno(context)));
        exit(1);
    }
    if (state != PA_CONTEXT_READY) {
        return;
    }
    const pa_sample_spec format = {PA_SAMPLE_S16LE, 48000, 2};
    for (int i = 0; i < wanted; i++) {
        pa_stream* stream = pa_stream_new(context, "hold", &format, NULL);
        pa_stream_set_state_callback(stream, on_stream, NULL);
        pa_stream_connect_playback(stream, sink, NULL, PA_STREAM_START_CORKED, NULL, NULL);
    }
}

int main(int argc, char** argv) {
    if (argc != 3 || (wanted = atoi(argv[2])) <= 0) {
        fprintf(stderr, "usage: hold_streams SINK COUNT\n");
        return 2;
    }
    sink = argv[1];
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "hold_streams");
    pa_context_set_state_callback(context, on_context, NULL);
    if (pa_context_connect(context, NULL, PA_CONTEXT_NOFLAGS, NULL) < 0) {
        fprintf(stderr, "hold_streams: %s\n", pa_strerror(pa_context_errno(context)));
        return 1;
    }
    return pa_mainloop_run(loop, NULL);
}
