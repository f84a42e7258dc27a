/* qemu-user TCG plugin for bench/perf.sh: counts every guest instruction
 * executed and prints "insns <count>" to stderr at exit. Each translated
 * block adds its instruction count inline when it runs, so the emulation
 * stays fast (no per-instruction logging).
 *
 * The few plugin-API declarations it uses are spelled out here, since
 * Debian ships the plugin loader in qemu-user but not its header; they are
 * the stable C interface of plugin API version 1. */
#include <inttypes.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#define PLUGIN_EXPORT __attribute__((visibility("default")))

typedef uint64_t qemu_plugin_id_t;
struct qemu_info_t;
struct qemu_plugin_tb;
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };
typedef void (*tb_trans_cb_t)(qemu_plugin_id_t id, struct qemu_plugin_tb* tb);
typedef void (*udata_cb_t)(qemu_plugin_id_t id, void* userdata);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, tb_trans_cb_t cb);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb* tb, enum qemu_plugin_op op,
                                              void* ptr, uint64_t imm);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb* tb);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, udata_cb_t cb, void* userdata);

PLUGIN_EXPORT int qemu_plugin_version = 1;

static uint64_t insn_count;

static void on_translate(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
  (void)id;
  qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &insn_count,
                                           qemu_plugin_tb_n_insns(tb));
}

static void on_exit_(qemu_plugin_id_t id, void* userdata) {
  (void)id;
  (void)userdata;
  fprintf(stderr, "insns %" PRIu64 "\n", insn_count);
}

PLUGIN_EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const struct qemu_info_t* info, int argc,
                                      char** argv) {
  (void)info;
  (void)argc;
  (void)argv;
  qemu_plugin_register_vcpu_tb_trans_cb(id, on_translate);
  qemu_plugin_register_atexit_cb(id, on_exit_, NULL);
  return 0;
}
