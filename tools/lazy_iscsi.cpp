// The libiscsi functions the iSCSI back-end calls, for the qxscsi program: each loads libiscsi
// (dlopen) at the first call of any of them, so that a run that opens no iscsi:// name never maps
// libiscsi and the libraries it needs.
//
// The program is linked without libiscsi; these definitions take the place of the library's
// and forward to it. Their declarations come from libiscsi's own header, so a signature that
// differs from the library's does not compile. When the library cannot be loaded, every call
// fails the way the library reports a failure (a null context or task, -1), and
// iscsi_get_error() says why.
#include <dlfcn.h>
#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>

#include <string>

#ifndef QXSCSI_LIBISCSI_SONAME
#error "QXSCSI_LIBISCSI_SONAME (the file name to load, e.g. libiscsi.so.7) must be defined"
#endif

namespace {

#define QXSCSI_LAZY_FUNCTIONS(X)                                                                     \
  X(iscsi_connect_async) X(iscsi_create_context) X(iscsi_destroy_context) X(iscsi_discovery_async) \
  X(iscsi_get_error) X(iscsi_get_fd) X(iscsi_init_transport) X(iscsi_login_async)                 \
  X(iscsi_logout_async) X(iscsi_scsi_cancel_task) X(iscsi_scsi_command_async) X(iscsi_service)     \
  X(iscsi_set_header_digest) X(iscsi_set_initiator_username_pwd) X(iscsi_set_noautoreconnect)      \
  X(iscsi_set_reconnect_max_retries) X(iscsi_set_session_type) X(iscsi_set_target_username_pwd)   \
  X(iscsi_set_targetname) X(iscsi_which_events) X(scsi_create_task) X(scsi_free_scsi_task)         \
  X(scsi_task_add_data_in_buffer)

// The library's entry points, all of them or none (`failure` then says why). Loaded once, by the
// first caller; the library stays loaded until the process ends.
struct Library {
#define QXSCSI_POINTER(name) decltype(&::name) name = nullptr;
  QXSCSI_LAZY_FUNCTIONS(QXSCSI_POINTER)
#undef QXSCSI_POINTER
  bool loaded = false;
  std::string failure;

  Library() {
    void* handle = dlopen(QXSCSI_LIBISCSI_SONAME, RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = dlerror();
      failure = std::string("libiscsi could not be loaded: ") + (why ? why : QXSCSI_LIBISCSI_SONAME);
      return;
    }
#define QXSCSI_RESOLVE(name)                                                              \
  name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));                      \
  if (name == nullptr) {                                                                  \
    failure = "libiscsi (" QXSCSI_LIBISCSI_SONAME ") has no " #name;                      \
    return;                                                                               \
  }
    QXSCSI_LAZY_FUNCTIONS(QXSCSI_RESOLVE)
#undef QXSCSI_RESOLVE
    loaded = true;
  }
};

const Library& library() {
  static const Library instance;
  return instance;
}

}  // namespace

extern "C" {

int iscsi_connect_async(struct iscsi_context* iscsi, const char* portal, iscsi_command_cb cb, void* data) {
  const Library& l = library();
  return l.loaded ? l.iscsi_connect_async(iscsi, portal, cb, data) : -1;
}

struct iscsi_context* iscsi_create_context(const char* initiator_name) {
  const Library& l = library();
  return l.loaded ? l.iscsi_create_context(initiator_name) : nullptr;
}

int iscsi_destroy_context(struct iscsi_context* iscsi) {
  const Library& l = library();
  return l.loaded ? l.iscsi_destroy_context(iscsi) : -1;
}

int iscsi_discovery_async(struct iscsi_context* iscsi, iscsi_command_cb cb, void* data) {
  const Library& l = library();
  return l.loaded ? l.iscsi_discovery_async(iscsi, cb, data) : -1;
}

const char* iscsi_get_error(struct iscsi_context* iscsi) {
  const Library& l = library();
  return l.loaded ? l.iscsi_get_error(iscsi) : l.failure.c_str();
}

int iscsi_get_fd(struct iscsi_context* iscsi) {
  const Library& l = library();
  return l.loaded ? l.iscsi_get_fd(iscsi) : -1;
}

int iscsi_init_transport(struct iscsi_context* iscsi, enum iscsi_transport_type transport) {
  const Library& l = library();
  return l.loaded ? l.iscsi_init_transport(iscsi, transport) : -1;
}

int iscsi_login_async(struct iscsi_context* iscsi, iscsi_command_cb cb, void* data) {
  const Library& l = library();
  return l.loaded ? l.iscsi_login_async(iscsi, cb, data) : -1;
}

int iscsi_logout_async(struct iscsi_context* iscsi, iscsi_command_cb cb, void* data) {
  const Library& l = library();
  return l.loaded ? l.iscsi_logout_async(iscsi, cb, data) : -1;
}

int iscsi_scsi_cancel_task(struct iscsi_context* iscsi, struct scsi_task* task) {
  const Library& l = library();
  return l.loaded ? l.iscsi_scsi_cancel_task(iscsi, task) : -1;
}

int iscsi_scsi_command_async(struct iscsi_context* iscsi, int lun, struct scsi_task* task, iscsi_command_cb cb,
                             struct iscsi_data* d, void* data) {
  const Library& l = library();
  return l.loaded ? l.iscsi_scsi_command_async(iscsi, lun, task, cb, d, data) : -1;
}

int iscsi_service(struct iscsi_context* iscsi, int revents) {
  const Library& l = library();
  return l.loaded ? l.iscsi_service(iscsi, revents) : -1;
}

int iscsi_set_header_digest(struct iscsi_context* iscsi, enum iscsi_header_digest digest) {
  const Library& l = library();
  return l.loaded ? l.iscsi_set_header_digest(iscsi, digest) : -1;
}

int iscsi_set_initiator_username_pwd(struct iscsi_context* iscsi, const char* user, const char* passwd) {
  const Library& l = library();
  return l.loaded ? l.iscsi_set_initiator_username_pwd(iscsi, user, passwd) : -1;
}

void iscsi_set_noautoreconnect(struct iscsi_context* iscsi, int state) {
  const Library& l = library();
  if (l.loaded) l.iscsi_set_noautoreconnect(iscsi, state);
}

void iscsi_set_reconnect_max_retries(struct iscsi_context* iscsi, int count) {
  const Library& l = library();
  if (l.loaded) l.iscsi_set_reconnect_max_retries(iscsi, count);
}

int iscsi_set_session_type(struct iscsi_context* iscsi, enum iscsi_session_type type) {
  const Library& l = library();
  return l.loaded ? l.iscsi_set_session_type(iscsi, type) : -1;
}

int iscsi_set_target_username_pwd(struct iscsi_context* iscsi, const char* user, const char* passwd) {
  const Library& l = library();
  return l.loaded ? l.iscsi_set_target_username_pwd(iscsi, user, passwd) : -1;
}

int iscsi_set_targetname(struct iscsi_context* iscsi, const char* targetname) {
  const Library& l = library();
  return l.loaded ? l.iscsi_set_targetname(iscsi, targetname) : -1;
}

int iscsi_which_events(struct iscsi_context* iscsi) {
  const Library& l = library();
  return l.loaded ? l.iscsi_which_events(iscsi) : -1;
}

struct scsi_task* scsi_create_task(int cdb_size, unsigned char* cdb, int xfer_dir, int expxferlen) {
  const Library& l = library();
  return l.loaded ? l.scsi_create_task(cdb_size, cdb, xfer_dir, expxferlen) : nullptr;
}

void scsi_free_scsi_task(struct scsi_task* task) {
  const Library& l = library();
  if (l.loaded) l.scsi_free_scsi_task(task);
}

int scsi_task_add_data_in_buffer(struct scsi_task* task, int len, unsigned char* buf) {
  const Library& l = library();
  return l.loaded ? l.scsi_task_add_data_in_buffer(task, len, buf) : -1;
}

}  // extern "C"
