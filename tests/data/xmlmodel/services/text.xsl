<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text"/>
  <xsl:template match="/">
    <xsl:for-each select="books/book"><xsl:value-of select="@id"/>:<xsl:value-of select="title"/>;</xsl:for-each>
  </xsl:template>
</xsl:stylesheet>
