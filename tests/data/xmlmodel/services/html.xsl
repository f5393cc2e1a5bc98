<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html"/>
  <xsl:template match="/">
    <html><body><p><xsl:value-of select="books/book[2]/title"/></p></body></html>
  </xsl:template>
</xsl:stylesheet>
