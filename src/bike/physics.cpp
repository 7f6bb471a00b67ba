// The physics world shared by every rider, ODE's diagnostics routed into the log.
#include <ode/ode.h>

#include <cstdio>

#include "bike/bike.h"
#include "bike/bike_internal.h"
#include "platform/log.h"

dWorldID world = nullptr;
dJointGroupID contact_group = nullptr;

namespace {

void log_ode(const char* kind, int num, const char* msg, va_list ap) {
  char text[1024];
  vsnprintf(text, sizeof text, msg, ap);
  velk_log("ODE %s %d: %s\n", kind, num, text);
}

void ode_error(int num, const char* msg, va_list ap) { log_ode("error", num, msg, ap); }
void ode_debug(int num, const char* msg, va_list ap) { log_ode("debug", num, msg, ap); }
void ode_message(int num, const char* msg, va_list ap) { log_ode("message", num, msg, ap); }

}  // namespace

void physics_init() {
  if (world) return;
  dSetErrorHandler(ode_error);
  dSetDebugHandler(ode_debug);
  dSetMessageHandler(ode_message);
  dInitODE2(0);
  world = dWorldCreate();
  dWorldSetGravity(world, 0, gravity_y, 0);
  contact_group = dJointGroupCreate(0);
}

void physics_shutdown() {
  if (!world) return;
  dJointGroupDestroy(contact_group);
  dWorldDestroy(world);
  contact_group = nullptr;
  world = nullptr;
  dCloseODE();
}

bool physics_ready() { return world != nullptr; }

void physics_step() {
  dWorldStep(world, tick_length);
  dJointGroupEmpty(contact_group);
}

void soft_terms(float k, float c, dReal* erp, dReal* cfm) {
  const dReal kh = static_cast<dReal>(k) * tick_length;
  *cfm = 1.0 / (kh + c);
  *erp = kh * *cfm;
}

dJointID soft_contact(dBodyID body1, dBodyID body2, const float pos[3], const float normal[3],
                      float depth, float k, float c) {
  dContact contact{};
  contact.surface.mode = dContactSoftERP | dContactSoftCFM;
  contact.surface.mu = 0;
  soft_terms(k, c, &contact.surface.soft_erp, &contact.surface.soft_cfm);
  for (int i = 0; i < 3; ++i) {
    contact.geom.pos[i] = pos[i];
    contact.geom.normal[i] = normal[i];
  }
  contact.geom.depth = depth;
  dJointID j = dJointCreateContact(world, contact_group, &contact);
  dJointAttach(j, body1, body2);
  return j;
}
