<?xml version="1.0"?>
<xsl:stylesheet version="1.1" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text"/>
  <xsl:template match="/">
    <xsl:document href="written-by-stylesheet.txt" method="text">leaked</xsl:document>
    <xsl:text>done</xsl:text>
  </xsl:template>
</xsl:stylesheet>
