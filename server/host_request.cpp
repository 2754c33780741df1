#include <cstring>

#include "server/loop_state.h"
#include "wire/version.h"

void HandleQuit(LoopState*) {}

void HandleSetHost(LoopState* state) {
  state->hostWindow = 0;
  if (!NeedPayload(state, 4)) return;
  memset(&state->hostSettings, 0, sizeof(state->hostSettings));
  uint32_t n = state->request.payloadLength < sizeof(HostSettings) ? state->request.payloadLength
                                                                   : static_cast<uint32_t>(sizeof(HostSettings));
  memcpy(&state->hostSettings, state->requestPayload.data, n);
  state->hostWindow = state->hostSettings.hostWindow;
}

void HandleServerInfo(LoopState* state) {
  const ServerInfoReply info{PROTOCOL_VERSION, kPlughostVersionNumber, ServedKindsMask()};
  uint8_t* payload = AttachReplyPayload(state, SERVER_INFO_BYTES);
  if (payload != nullptr) memcpy(payload, &info, sizeof(info));
}
