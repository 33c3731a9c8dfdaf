# Each fuzz target, the product sources it reaches and the libraries it links; shared by the fuzz
# build and the main build's replay of the corpora.
set(KOVRA_FUZZ_TARGETS relay_head appcast settings portal)
set(KOVRA_FUZZ_SOURCES_relay_head ${KOVRA_ROOT}/platform/linux/relay/HttpRelayProtocol.cpp)
set(KOVRA_FUZZ_SOURCES_appcast ${KOVRA_ROOT}/platform/linux/desktop/AppcastFeed.cpp)
set(KOVRA_FUZZ_SOURCES_settings ${KOVRA_ROOT}/platform/linux/desktop/JsonUserDefaults.cpp
  ${KOVRA_ROOT}/platform/linux/desktop/AtomicFile.cpp)
set(KOVRA_FUZZ_SOURCES_portal ${KOVRA_ROOT}/platform/linux/hotkeys/PortalAnswers.cpp)
set(KOVRA_FUZZ_LIBS_relay_head Qt6::Core)
set(KOVRA_FUZZ_LIBS_appcast Qt6::Core)
set(KOVRA_FUZZ_LIBS_settings Qt6::Core)
set(KOVRA_FUZZ_LIBS_portal Qt6::Core Qt6::DBus PkgConfig::DBUS1)
