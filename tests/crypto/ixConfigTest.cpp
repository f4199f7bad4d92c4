#include "crypto/ixConfig.h"

#include "crypto/ixCryptHash.h"
#include "crypto/ixCryptMac.h"
#include "crypto/ixCryptSignature.h"

#include <gtest/gtest.h>

using namespace ix;

TEST(Config, CreatesRegisteredClassesByNameForgetsUnregisteredOnesAndReadsSettingsByName)
{
    TixConfig config;
    config.RegisterClass("sha1", ConfigClassOf<TixSha1>());
    config.RegisterClass("hmac-md5", ConfigClassOf<TixHmacMd5>());
    EXPECT_NE(dynamic_cast<TixSha1*>(config.CreateInstance("sha1").get()), nullptr);
    EXPECT_NE(dynamic_cast<TixHmacMd5*>(config.CreateInstance("hmac-md5").get()), nullptr);
    EXPECT_EQ(config.CreateInstance("sha256"), nullptr);

    config.RegisterClass("sha1", ConfigClassOf<TixSha256>());
    EXPECT_NE(dynamic_cast<TixSha256*>(config.CreateInstance("sha1").get()), nullptr);
    EXPECT_EQ(config.GetClasses().Count(), 2);

    config.RegisterClass("sha1", {});
    EXPECT_EQ(config.CreateInstance("sha1"), nullptr);
    EXPECT_EQ(config.GetClasses().Count(), 1);

    RegisterRsaClasses(config);
    EXPECT_NE(dynamic_cast<TixSignatureRsaSha1*>(config.CreateInstance("rsa-sha1").get()), nullptr);
    EXPECT_NE(dynamic_cast<TixSignatureRsaSha256*>(config.CreateInstance("rsa-sha256").get()), nullptr);
    EXPECT_NE(dynamic_cast<TixCryptApiRsaKey*>(config.CreateInstance("rsa").get()), nullptr);

    // Settings are read by name.
    config.GetSettings().SetValue("hash", "sha256");
    EXPECT_EQ(config.GetSetting("hash"), "sha256");
    EXPECT_EQ(config.GetSetting("missing"), "");
}
