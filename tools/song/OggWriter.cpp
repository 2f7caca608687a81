// tools/song/OggWriter.cpp: Ogg Vorbis and WAV files from 16-bit PCM.
#include "tools/song/Song.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace song {
namespace {

constexpr int OGG_SERIAL = 0x564F5254;   // fixed stream serial: same PCM, same file
constexpr size_t ENCODE_BLOCK = 4096;    // frames handed to the encoder at a time

bool writePages(FILE* f, ogg_stream_state& os, bool flush)
{
    ogg_page page;
    while (flush ? ogg_stream_flush(&os, &page) : ogg_stream_pageout(&os, &page)) {
        if (std::fwrite(page.header, 1, size_t(page.header_len), f) != size_t(page.header_len) ||
            std::fwrite(page.body, 1, size_t(page.body_len), f) != size_t(page.body_len))
            return false;
    }
    return true;
}

void put16(FILE* f, unsigned v) { std::fputc(int(v & 0xFF), f); std::fputc(int((v >> 8) & 0xFF), f); }
void put32(FILE* f, unsigned v) { put16(f, v & 0xFFFF); put16(f, v >> 16); }

} // namespace

bool writeOggVorbis(const std::string& path, const int16_t* pcm, size_t frames, int channels, long rate,
                    float quality, std::string& error)
{
    if (channels < 1 || channels > 8 || rate < 1000 || (frames > 0 && !pcm)) {
        error = "bad PCM format";
        return false;
    }
    const std::string temp = path + ".part";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        error = "cannot create " + temp;
        return false;
    }

    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, channels, rate, quality) != 0) {
        vorbis_info_clear(&vi);
        std::fclose(f);
        std::remove(temp.c_str());
        error = "the encoder refuses this format";
        return false;
    }
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_comment_add_tag(&vc, "TITLE", "Vortalune");
    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, OGG_SERIAL);

    ogg_packet header, comments, codebooks;
    vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
    ogg_stream_packetin(&os, &header);
    ogg_stream_packetin(&os, &comments);
    ogg_stream_packetin(&os, &codebooks);
    bool ok = writePages(f, os, true);

    size_t done = 0;
    bool ended = false;
    while (ok && !ended) {
        const size_t count = std::min(ENCODE_BLOCK, frames - done);
        if (count == 0) {
            vorbis_analysis_wrote(&vd, 0);   // end of stream
        } else {
            float** buffer = vorbis_analysis_buffer(&vd, int(count));
            for (size_t i = 0; i < count; ++i)
                for (int c = 0; c < channels; ++c)
                    buffer[c][i] = pcm[(done + i) * size_t(channels) + size_t(c)] / 32768.0f;
            vorbis_analysis_wrote(&vd, int(count));
            done += count;
        }
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&vd, &packet)) {
                ogg_stream_packetin(&os, &packet);
                if (!writePages(f, os, false))
                    ok = false;
            }
        }
        if (count == 0)
            ended = true;   // every block of the end-of-stream call has been flushed
    }
    ok = ok && writePages(f, os, true);

    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool writeWav(const std::string& path, const int16_t* pcm, size_t frames, int channels, long rate)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const unsigned bytes = unsigned(frames * size_t(channels) * 2);
    std::fwrite("RIFF", 1, 4, f);
    put32(f, 36 + bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put32(f, 16);
    put16(f, 1);
    put16(f, unsigned(channels));
    put32(f, unsigned(rate));
    put32(f, unsigned(rate) * unsigned(channels) * 2);
    put16(f, unsigned(channels) * 2);
    put16(f, 16);
    std::fwrite("data", 1, 4, f);
    put32(f, bytes);
    for (size_t i = 0; i < frames * size_t(channels); ++i)
        put16(f, unsigned(uint16_t(pcm[i])));
    return std::fclose(f) == 0;
}

} // namespace song
