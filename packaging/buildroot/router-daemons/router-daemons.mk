################################################################################
#
# router-daemons
#
################################################################################

ROUTER_DAEMONS_VERSION = 1.0.0
ROUTER_DAEMONS_SITE = $(call qstrip,$(BR2_PACKAGE_ROUTER_DAEMONS_SOURCE_DIR))
ROUTER_DAEMONS_SITE_METHOD = local
# libshared.so, shared.h and libshared.pc for packages that link the library.
ROUTER_DAEMONS_INSTALL_STAGING = YES
ROUTER_DAEMONS_DEPENDENCIES = host-pkgconf libglib2 gstreamer1 gst1-plugins-base libmms
# Firmware layout, and nothing of the tests (GoogleTest, Python, qemu).
ROUTER_DAEMONS_CONF_OPTS = \
	-DCMAKE_INSTALL_LIBDIR=lib \
	-DBUILD_TESTING=OFF

$(eval $(cmake-package))
